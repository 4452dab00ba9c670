// Certificate records from each route in (DER, Base64, service answer,
// KeyInfo), the texts derived from them, refusals with their places, the two
// checks and copying.
#include "certs/certificate_record.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <ctime>

#include "certs/name_text.h"
#include "support/test_pki.h"
#include "data/codecs.h"
#include "diagnostics/error_record.h"
#include "diagnostics/wide_format.h"
#include "xmlsig/xml_document.h"

namespace tessal::certs {
namespace {

const std::string kUserCode = "0123456789abcdef0123456789ABCDEF";

test::CertPlan signerPlan() {
    test::CertPlan plan;
    plan.subject = {{"C", "LT"}, {"CN", "Jonas Jonaitis"}, {"UID", kUserCode}};
    plan.issuer = test::Name{{"C", "LT"}, {"O", "UAB Norvata Keldas"}, {"CN", "Norvata Keldas CA"}};
    plan.serial = {0x01, 0x00};
    return plan;
}

std::string hexDigest(const data::Bytes& bytes, const EVP_MD* md) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), out, &length, md, nullptr);
    std::string hex;
    data::hexEncode(out, length, hex);
    return hex;
}

std::string entryCode(int place, int index) { return " : " + std::to_string(diag::errorCode(place, index)); }

bool hasEntry(const CertificateRecord& record, int place, int index) {
    return record.error().text.str().find(entryCode(place, index)) != std::string::npos;
}

std::string localStamp(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    return diag::formatNarrow("%d-%02d-%02d %02d:%02d:%02d",
                              {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec});
}

TEST(CertificateRecord, DerivesEveryTextFromDer) {
    const data::Bytes der = test::makeCertificate(signerPlan());
    CertificateRecord record;
    ASSERT_TRUE(record.fromDer(der.data(), der.size())) << record.error().text.str();
    EXPECT_TRUE(record.error().empty());

    EXPECT_EQ(record.id().str(), hexDigest(der, EVP_sha1()));
    EXPECT_EQ(record.id().size(), 40u);
    std::string idBase64;
    data::Bytes sha1;
    data::base64Decode(record.idBase64().str(), sha1);
    data::hexEncode(sha1, idBase64);
    EXPECT_EQ(idBase64, record.id().str());
    EXPECT_EQ(record.sha256Id().str(), hexDigest(der, EVP_sha256()));
    EXPECT_EQ(record.sha384Id().str(), hexDigest(der, EVP_sha384()));
    EXPECT_EQ(record.sha512Id().str(), hexDigest(der, EVP_sha512()));

    EXPECT_EQ(record.serialNumber().str(), "256");
    EXPECT_EQ(record.subject().str(), "C=LT, CN=Jonas Jonaitis, OID.0.9.2342.19200300.100.1.1=" + kUserCode);
    EXPECT_EQ(record.subjectCommonName().str(), "jonas jonaitis");
    EXPECT_EQ(record.issuer().str(), "C=LT, O=UAB Norvata Keldas, CN=Norvata Keldas CA");
    EXPECT_EQ(record.issuerCommonName().str(), "norvata keldas ca");
    EXPECT_EQ(record.userCode().str(), kUserCode);
    EXPECT_EQ(record.selfSigned(), 0u);
}

TEST(CertificateRecord, KeyHashIsSha1OfThePublicKeyBlob) {
    const data::Bytes der = test::makeCertificate(signerPlan());
    CertificateRecord record;
    ASSERT_TRUE(record.fromDer(der.data(), der.size()));

    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    ASSERT_TRUE(EVP_PKEY_get_bn_param(test::rsaKey().get(), OSSL_PKEY_PARAM_RSA_N, &n));
    ASSERT_TRUE(EVP_PKEY_get_bn_param(test::rsaKey().get(), OSSL_PKEY_PARAM_RSA_E, &e));
    data::Bytes modulus(static_cast<std::size_t>(BN_num_bytes(n)));
    data::Bytes exponent(static_cast<std::size_t>(BN_num_bytes(e)));
    BN_bn2bin(n, modulus.data());
    BN_bn2bin(e, exponent.data());
    BN_free(n);
    BN_free(e);
    const auto blob = publicKeyBlob(modulus, exponent);
    ASSERT_TRUE(blob);
    ASSERT_EQ(blob->size(), 20u + 128u);  // a 1024-bit key
    EXPECT_EQ(record.keyHash().str(), hexDigest(*blob, EVP_sha1()));
    data::Bytes fromBase64;
    std::string hex;
    data::base64Decode(record.keyHashBase64().str(), fromBase64);
    data::hexEncode(fromBase64, hex);
    EXPECT_EQ(hex, record.keyHash().str());
}

TEST(CertificateRecord, XmlFormIsTheServiceAnswerOnOneLine) {
    const data::Bytes der = test::makeCertificate(signerPlan());
    CertificateRecord record;
    ASSERT_TRUE(record.fromDer(der.data(), der.size()));
    std::string base64;
    data::base64Encode(der, base64);
    EXPECT_EQ(record.text(),
              "<QualifyingProperties Target=\"DS\" xmlns=\"http://uri.etsi.org/01903/v1.1.1#\"><UnsignedProperties>"
              "<UnsignedSignatureProperties><CertificateValues Id=\"CV\"><EncapsulatedX509Certificate Id=\"CV_" +
                  record.id().str() + "\">" + base64 +
                  "</EncapsulatedX509Certificate></CertificateValues></UnsignedSignatureProperties>"
                  "</UnsignedProperties></QualifyingProperties>");
    ASSERT_NE(record.tree(), nullptr);
    EXPECT_EQ(record.textAtPath(kCertificatePath), base64);
}

TEST(CertificateRecord, SelfSignedOnlyWithEqualNonEmptyNames) {
    test::CertPlan root;
    root.subject = {{"O", "Org"}, {"CN", "Root CA"}};
    const data::Bytes der = test::makeCertificate(root);
    CertificateRecord record;
    ASSERT_TRUE(record.fromDer(der.data(), der.size()));
    EXPECT_EQ(record.selfSigned(), 1u);
    EXPECT_TRUE(record.userCode().empty());
    EXPECT_TRUE(record.certificate().signedBy(record.certificate()));

    // Equal names do not make a signature: the chain check verifies it apart.
    test::CertPlan forged = root;
    forged.signer = test::otherRsaKey();
    const data::Bytes forgedDer = test::makeCertificate(forged);
    CertificateRecord impostor;
    ASSERT_TRUE(impostor.fromDer(forgedDer.data(), forgedDer.size()));
    EXPECT_EQ(impostor.selfSigned(), 1u);
    EXPECT_FALSE(impostor.certificate().signedBy(impostor.certificate()));

    // An empty subject never counts, even when the issuer is empty too; such
    // a record is refused as malformed anyway.
    test::CertPlan empty;
    empty.subject = {};
    const data::Bytes emptyDer = test::makeCertificate(empty);
    CertificateRecord emptyRecord;
    EXPECT_FALSE(emptyRecord.fromDer(emptyDer.data(), emptyDer.size()));
    EXPECT_EQ(emptyRecord.selfSigned(), 0u);
    EXPECT_TRUE(hasEntry(emptyRecord, 1009, 86));
}

TEST(CertificateRecord, RefusesMalformedNamesAndShortSerials) {
    struct Case {
        const char* what;
        test::CertPlan plan;
    };
    std::vector<Case> cases;
    cases.push_back({"subject without CN", signerPlan()});
    cases.back().plan.subject = {{"C", "LT"}, {"O", "Org"}};
    cases.push_back({"issuer without CN", signerPlan()});
    cases.back().plan.issuer = test::Name{{"O", "Norvata Keldas"}};
    cases.push_back({"serial 7", signerPlan()});
    cases.back().plan.serial = {0x07};
    for (const Case& c : cases) {
        const data::Bytes der = test::makeCertificate(c.plan);
        CertificateRecord record;
        EXPECT_FALSE(record.fromDer(der.data(), der.size())) << c.what;
        EXPECT_EQ(record.error().code, diag::errorCode(1009, 86)) << c.what;
        EXPECT_EQ(record.error().text.str(), "Klaidingas sertifikato formatas" + entryCode(1009, 86) + ";\r\n")
            << c.what;
        EXPECT_EQ(record.text(), "") << c.what;
    }
    test::CertPlan ten = signerPlan();
    ten.serial = {0x0A};
    const data::Bytes der = test::makeCertificate(ten);
    CertificateRecord record;
    EXPECT_TRUE(record.fromDer(der.data(), der.size()));
    EXPECT_EQ(record.serialNumber().str(), "10");
}

TEST(CertificateRecord, UserCodeNeedsExactly32Characters) {
    struct Case {
        std::string value;
        bool kept;
    };
    // Characters are counted, not bytes: the last case is 33 bytes long.
    const Case cases[] = {
        {kUserCode.substr(0, 31), false}, {kUserCode + "0", false}, {"ą" + kUserCode.substr(1), true}};
    for (const Case& c : cases) {
        test::CertPlan plan = signerPlan();
        plan.subject.back().value = c.value;
        const data::Bytes der = test::makeCertificate(plan);
        CertificateRecord record;
        ASSERT_TRUE(record.fromDer(der.data(), der.size()));
        EXPECT_EQ(record.userCode().str(), c.kept ? c.value : "") << c.value;
    }
}

TEST(CertificateRecord, RefusesKeysOtherThanRsaNamingTheAlgorithm) {
    test::CertPlan plan = signerPlan();
    plan.key = test::ecKey();
    const data::Bytes der = test::makeCertificate(plan);
    CertificateRecord record;
    EXPECT_FALSE(record.fromDer(der.data(), der.size()));
    EXPECT_EQ(record.error().text.str(),
              "Nepalaikomas viešojo rakto tipas (\"1.2.840.10045.2.1\"). Šiuo metu palaikomi tik RSA raktai" +
                  entryCode(1010, 66) + ";\r\n");
    EXPECT_TRUE(record.keyHash().empty());
}

TEST(CertificateRecord, RefusesInputThatIsNoCertificate) {
    CertificateRecord record;
    const std::uint8_t junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_FALSE(record.fromDer(junk, sizeof junk));
    EXPECT_EQ(record.error().code, diag::errorCode(1002, 36));
    EXPECT_EQ(record.error().text.str().rfind("Kriptografinių funkcijų paketo klaida kuriant sertifikato objektą", 0),
              0u);

    CertificateRecord empty;
    EXPECT_FALSE(empty.fromBase64("", -1));
    EXPECT_EQ(empty.error().text.str(),
              "BASE64 kodavimo funkcijų klaida dekoduojant BASE64 formatu perduotų duomenų bloką" + entryCode(1001, 7) +
                  ";\r\n");
}

TEST(CertificateRecord, Base64RouteHonoursTheLength) {
    const data::Bytes der = test::makeCertificate(signerPlan());
    std::string base64;
    data::base64Encode(der, base64);
    const std::string padded = base64 + "QUJD";  // trailing bytes beyond the length
    CertificateRecord record;
    ASSERT_TRUE(record.fromBase64(padded.c_str(), static_cast<std::ptrdiff_t>(base64.size())));
    EXPECT_EQ(record.id().str(), hexDigest(der, EVP_sha1()));
    CertificateRecord whole;
    ASSERT_TRUE(whole.fromBase64(base64.c_str()));
    EXPECT_EQ(whole.id(), record.id());
}

TEST(CertificateRecord, FailedReplacementLeavesNoStaleTexts) {
    const data::Bytes der = test::makeCertificate(signerPlan());
    CertificateRecord record;
    ASSERT_TRUE(record.fromDer(der.data(), der.size()));
    const std::uint8_t junk[] = {0x01, 0x02, 0x03};
    EXPECT_FALSE(record.fromDer(junk, sizeof junk));
    EXPECT_FALSE(record.hasCertificate());
    EXPECT_TRUE(record.id().empty());
    EXPECT_TRUE(record.subject().empty());
    EXPECT_TRUE(record.keyHash().empty());
    EXPECT_EQ(record.selfSigned(), 0u);
}

TEST(CertificateRecord, FromXmlReadsTheServiceAnswer) {
    const data::Bytes der = test::makeCertificate(signerPlan());
    const std::string answer = test::certificateDocument(der);
    CertificateRecord record;
    ASSERT_TRUE(record.parse(answer.data(), answer.size()));
    ASSERT_TRUE(record.fromXml()) << record.error().text.str();
    EXPECT_EQ(record.id().str(), hexDigest(der, EVP_sha1()));
    EXPECT_EQ(record.subjectCommonName().str(), "jonas jonaitis");
    EXPECT_FALSE(record.keyHash().empty());
}

TEST(CertificateRecord, FromXmlPlacesAndTheErrorGate) {
    const std::string noCertificate = "<QualifyingProperties><UnsignedProperties/></QualifyingProperties>";
    CertificateRecord missing;
    ASSERT_TRUE(missing.parse(noCertificate.data(), noCertificate.size()));
    EXPECT_FALSE(missing.fromXml());
    EXPECT_EQ(missing.error().text.str(),
              "Paieškos kriterijus atitinkantis sertifikatas Norvata Keldo sertifikatų saugykloje nerastas" +
                  entryCode(1005, 67) + ";\r\n");
    // A record that holds an error refuses at once, without a new entry.
    const std::string before = missing.error().text.str();
    EXPECT_FALSE(missing.fromXml());
    EXPECT_EQ(missing.error().text.str(), before);

    const std::string notACertificate = test::certificateDocument({0x30, 0x03, 0x02, 0x01, 0x05});
    CertificateRecord bad;
    ASSERT_TRUE(bad.parse(notACertificate.data(), notACertificate.size()));
    EXPECT_FALSE(bad.fromXml());
    EXPECT_EQ(bad.error().code, diag::errorCode(1007, 36));

    // An empty first child gives an empty text, which does not decode.
    const std::string notBase64 =
        "<QualifyingProperties><UnsignedProperties><UnsignedSignatureProperties>"
        "<CertificateValues><EncapsulatedX509Certificate><!----></EncapsulatedX509Certificate>"
        "</CertificateValues></UnsignedSignatureProperties></UnsignedProperties>"
        "</QualifyingProperties>";
    CertificateRecord undecodable;
    ASSERT_TRUE(undecodable.parse(notBase64.data(), notBase64.size()));
    EXPECT_FALSE(undecodable.fromXml());
    EXPECT_EQ(undecodable.error().code, diag::errorCode(1006, 7));
}

class KeyInfo : public ::testing::Test {
protected:
    CertificateRecord read(const std::string& body) {
        const std::string xml = "<ds:KeyInfo xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">" + body + "</ds:KeyInfo>";
        document_ = std::make_unique<xml::XmlDocument>(xml.data(), xml.size());
        EXPECT_NE(document_->rootElement(), nullptr) << document_->error().text.str();
        return CertificateRecord::fromKeyInfo(document_->rootElement());
    }
    std::string base64() const {
        std::string out;
        data::base64Encode(der_, out);
        return out;
    }
    data::Bytes der_ = test::makeCertificate(signerPlan());
    std::unique_ptr<xml::XmlDocument> document_;
};

TEST_F(KeyInfo, CertificateAfterKeyValueInsideX509Data) {
    const CertificateRecord record = read(
        "\n  <!-- key -->\n  <ds:KeyValue><ds:RSAKeyValue/></ds:KeyValue>\n  <ds:X509Data>\n"
        "    <ds:X509SubjectName>CN=x</ds:X509SubjectName>\n    <ds:X509Certificate>" +
        base64() + "</ds:X509Certificate>\n  </ds:X509Data>\n");
    EXPECT_TRUE(record.error().empty()) << record.error().text.str();
    EXPECT_EQ(record.id().str(), hexDigest(der_, EVP_sha1()));
}

TEST_F(KeyInfo, FirstCertificateEndsTheWalk) {
    const CertificateRecord record = read("<ds:X509Certificate>" + base64() +
                                          "</ds:X509Certificate><?pi after?><ds:X509Certificate>***"
                                          "</ds:X509Certificate>");
    EXPECT_TRUE(record.error().empty());
    EXPECT_TRUE(record.hasCertificate());
}

TEST_F(KeyInfo, OtherNodesAreRefusedAndAbsenceLeavesTheRecordEmpty) {
    const CertificateRecord withPi = read("<ds:KeyValue/><?pi data?><ds:X509Data><ds:X509Certificate>" + base64() +
                                          "</ds:X509Certificate></ds:X509Data>");
    EXPECT_EQ(withPi.error().text.str(), "Klaidingas XML elektroninio parašo formatas" + entryCode(1040, 81) + ";\r\n");
    EXPECT_FALSE(withPi.hasCertificate());

    const CertificateRecord withText = read("stray<ds:X509Certificate>" + base64() + "</ds:X509Certificate>");
    EXPECT_EQ(withText.error().code, diag::errorCode(1040, 81));

    const CertificateRecord none = read("<ds:KeyName>k</ds:KeyName><ds:X509Data><ds:X509IssuerSerial/></ds:X509Data>");
    EXPECT_TRUE(none.error().empty());
    EXPECT_FALSE(none.hasCertificate());
    EXPECT_TRUE(none.id().empty());

    const CertificateRecord badBase64 = read("<ds:X509Certificate></ds:X509Certificate>");
    EXPECT_EQ(badBase64.error().code, diag::errorCode(1001, 7));
}

TEST(CertificateValidity, BeforeWithinAndAfterThePeriod) {
    test::CertPlan plan = signerPlan();
    const std::int64_t now = test::secondsNow();
    plan.notBefore = now + 10 * 86400;
    plan.notAfter = now + 20 * 86400;
    const data::Bytes der = test::makeCertificate(plan);

    CertificateRecord early;
    ASSERT_TRUE(early.fromDer(der.data(), der.size()));
    EXPECT_FALSE(early.checkValidity());
    EXPECT_EQ(early.error().text.str(), "Sertifikato galiojimo laikas neprasidėjęs (galioja nuo " +
                                            localStamp(plan.notBefore) + " vietos laiku)" + entryCode(1020, 4) +
                                            ";\r\n");

    CertificateRecord within;
    ASSERT_TRUE(within.fromDer(der.data(), der.size()));
    EXPECT_TRUE(within.checkValidity(plan.notBefore));
    EXPECT_TRUE(within.checkValidity(plan.notAfter));
    EXPECT_TRUE(within.error().empty());

    CertificateRecord late;
    ASSERT_TRUE(late.fromDer(der.data(), der.size()));
    EXPECT_FALSE(late.checkValidity(plan.notAfter + 1));
    EXPECT_EQ(late.error().text.str(), "Sertifikato galiojimo laikas pasibaigęs (galioja iki " +
                                           localStamp(plan.notAfter) + " vietos laiku)" + entryCode(1020, 5) + ";\r\n");

    CertificateRecord none;
    EXPECT_FALSE(none.checkValidity());
    EXPECT_TRUE(none.error().empty());
}

TEST(CertificateOrganisation, UserCodeThenIssuerOrganisation) {
    const data::Bytes good = test::makeCertificate(signerPlan());
    CertificateRecord accepted;
    ASSERT_TRUE(accepted.fromDer(good.data(), good.size()));
    EXPECT_TRUE(accepted.checkOrganisation());

    test::CertPlan mixedCase = signerPlan();
    mixedCase.issuer = test::Name{{"O", "KELDAS ir NoRvAtA"}, {"CN", "CA"}};
    const data::Bytes mixedDer = test::makeCertificate(mixedCase);
    CertificateRecord mixed;
    ASSERT_TRUE(mixed.fromDer(mixedDer.data(), mixedDer.size()));
    EXPECT_TRUE(mixed.checkOrganisation());

    test::CertPlan shortCode = signerPlan();
    shortCode.subject.back().value = kUserCode.substr(1);
    const data::Bytes shortDer = test::makeCertificate(shortCode);
    CertificateRecord noCode;
    ASSERT_TRUE(noCode.fromDer(shortDer.data(), shortDer.size()));
    EXPECT_FALSE(noCode.checkOrganisation());
    EXPECT_EQ(noCode.error().text.str(),
              "Sertifikate nenurodytas vartotojo identifikacijos Norvata Keldo informacinėje sistemoje kodas" +
                  entryCode(1030, 23) + ";\r\n");

    // The organisation is read from the O attribute only, not from the CN.
    test::CertPlan foreign = signerPlan();
    foreign.issuer = test::Name{{"O", "Norvata"}, {"CN", "Keldas"}};
    const data::Bytes foreignDer = test::makeCertificate(foreign);
    CertificateRecord other;
    ASSERT_TRUE(other.fromDer(foreignDer.data(), foreignDer.size()));
    EXPECT_FALSE(other.checkOrganisation());
    EXPECT_EQ(other.error().text.str(), "Sertifikatas išduotas ne Norvata Kelde" + entryCode(1031, 22) + ";\r\n");
    // The gate: a record holding an error gets no further entry.
    EXPECT_FALSE(other.checkOrganisation());
    EXPECT_EQ(other.error().text.str(), "Sertifikatas išduotas ne Norvata Kelde" + entryCode(1031, 22) + ";\r\n");

    CertificateRecord empty;
    EXPECT_FALSE(empty.checkOrganisation());
    EXPECT_TRUE(empty.error().empty());
}

TEST(CertificateRecordCopy, CopiesAreIndependentAndComplete) {
    const data::Bytes der = test::makeCertificate(signerPlan());
    auto original = std::make_unique<CertificateRecord>();
    ASSERT_TRUE(original->fromDer(der.data(), der.size()));
    CertificateRecord copy(*original);
    CertificateRecord assigned;
    assigned = *original;
    const std::string text(original->text());
    const std::string id = original->id().str();
    original.reset();  // the copies hold their own tree, text and certificate

    for (CertificateRecord* r : {&copy, &assigned}) {
        EXPECT_EQ(r->text(), text);
        EXPECT_NE(r->tree(), nullptr);
        EXPECT_EQ(r->id().str(), id);
        EXPECT_EQ(r->serialNumber().str(), "256");
        EXPECT_EQ(r->userCode().str(), kUserCode);
        EXPECT_FALSE(r->keyHash().empty());
        ASSERT_TRUE(r->hasCertificate());
        EXPECT_EQ(r->certificate().der(), der);
        EXPECT_TRUE(r->checkValidity());
    }
    CertificateRecord failed;
    EXPECT_FALSE(failed.fromBase64(""));
    assigned = failed;
    EXPECT_FALSE(assigned.hasCertificate());
    EXPECT_EQ(assigned.error(), failed.error());
    EXPECT_EQ(assigned.text(), "");
}

}  // namespace
}  // namespace tessal::certs
