#include "xades/qualifying_properties.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "certs/certificate_record.h"
#include "pki/certificate_store.h"
#include "pki/store_lock.h"
#include "support/test_pki.h"
#include "support/test_support.h"
#include "xades/signature_info.h"
#include "xades/verification.h"

namespace tessal::xml {
namespace {

constexpr const char* kUserCode = "0123456789ABCDEF0123456789ABCDEF";
constexpr const char* kXades = "http://uri.etsi.org/01903/v1.1.1#";

std::string base64Of(const data::Bytes& bytes) {
    std::string text;
    data::base64Encode(bytes, text);
    return text;
}

std::string digestBase64(const data::Bytes& der, const EVP_MD* md) {
    data::Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    EVP_Digest(der.data(), der.size(), digest.data(), &size, md, nullptr);
    digest.resize(size);
    return base64Of(digest);
}

std::string sha1Hex(const data::Bytes& der) {
    data::Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    EVP_Digest(der.data(), der.size(), digest.data(), &size, EVP_sha1(), nullptr);
    digest.resize(size);
    std::string hex;
    data::hexEncode(digest, hex);
    return hex;
}

certs::CertificateRecord recordOf(const data::Bytes& der) {
    certs::CertificateRecord record;
    record.fromDer(der.data(), der.size());
    return record;
}

// A signer certificate that passes the organisation check.
data::Bytes signerCertificate(const std::string& commonName, data::Bytes serial, test::KeyHandle key) {
    test::CertPlan plan;
    plan.subject = {{"0.9.2342.19200300.100.1.1", kUserCode}, {"CN", commonName}};
    plan.issuer = test::Name{{"O", "Norvata Keldas"}, {"CN", "NK CA"}};
    plan.serial = std::move(serial);
    plan.key = std::move(key);
    plan.signer = test::otherRsaKey();
    return test::makeCertificate(plan);
}

std::string certUrl(const data::Bytes& der) { return "http://pki.invalid/pki/cert/?hex&amp;" + sha1Hex(der); }

// What one verification left behind.
struct Outcome {
    std::string text;
    SignatureInfo info;
    bool has(int place, int message) const {
        return text.find(std::to_string(diag::errorCode(place, message))) != std::string::npos;
    }
};

// A signature around `object` (the content of ds:Object, with the XAdES
// namespace as its default) and an optional KeyInfo certificate. SignedInfo
// references "#SP_1"; digests and value never verify, these tests look at
// the qualifying-property entries only.
Outcome verifyWith(const std::string& object, const std::optional<data::Bytes>& keyInfo = std::nullopt) {
    std::string document =
        "<EDoc><Msg>x</Msg><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\" Id=\"DS_1\"><SignedInfo>"
        "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
        "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>"
        "<Reference URI=\"#SP_1\"><DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/>"
        "<DigestValue>AAAA</DigestValue></Reference></SignedInfo>"
        "<SignatureValue Id=\"SV_1\">AAAA</SignatureValue>";
    if (keyInfo) document += "<KeyInfo><X509Data><X509Certificate>" + base64Of(*keyInfo) + "</X509Certificate></X509Data></KeyInfo>";
    document += std::string("<ds:Object xmlns=\"") + kXades + "\" xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">" +
                object + "</ds:Object></Signature></EDoc>";
    Outcome run;
    VerificationJob job(document.data(), document.size(), nullptr, &run.info);
    verifySignature(job);
    run.text = job.error().text.str();
    return run;
}

// QualifyingProperties whose SigningCertificate digest is `digest`.
std::string properties(const std::string& digest, const std::string& unsignedPart = {}) {
    return "<QualifyingProperties Target=\"#DS_1\"><SignedProperties Id=\"SP_1\"><SignedSignatureProperties>"
           "<SigningTime>2026-12-09T10:11:12+02:00</SigningTime><SigningCertificate><Cert><CertDigest>"
           "<ds:DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><ds:DigestValue>" +
           digest +
           "</ds:DigestValue></CertDigest></Cert></SigningCertificate></SignedSignatureProperties></SignedProperties>" +
           unsignedPart + "</QualifyingProperties>";
}

// Every certificate a test names is in the store, so no request leaves the
// process; chain and revocation checks are off as outside a browser.
class QualifyingPropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_CACHE_HOME")) previousCache_ = old;
        ::setenv("XDG_CACHE_HOME", cache_.path().c_str(), 1);
        pki::clearCertificateStoreForTesting();
        pki::disableCertificateChecks();
        signer_ = signerCertificate("Jonas Jonaitis", {0x10, 0x01}, test::rsaKey());
        other_ = signerCertificate("Petras Petraitis", {0x10, 0x02}, test::otherRsaKey());
        pki::addCertificate(recordOf(signer_));
        pki::addCertificate(recordOf(other_));
    }
    void TearDown() override {
        pki::clearCertificateChecksOffForTesting();
        pki::clearCertificateStoreForTesting();
        if (previousCache_) {
            ::setenv("XDG_CACHE_HOME", previousCache_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CACHE_HOME");
        }
    }

    test::TempDir cache_;
    std::optional<std::string> previousCache_;
    data::Bytes signer_;
    data::Bytes other_;
};

TEST_F(QualifyingPropertiesTest, TrustReferencesPlaceEachCertificateBeforeItsIssuer) {
    test::CertPlan rootPlan;
    rootPlan.subject = {{"O", "Norvata Keldas"}, {"CN", "NK Root"}};
    rootPlan.serial = {0x01};
    rootPlan.key = test::rsaKey();
    const data::Bytes root = test::makeCertificate(rootPlan);
    test::CertPlan caPlan;
    caPlan.subject = {{"O", "Norvata Keldas"}, {"CN", "NK CA"}};
    caPlan.issuer = rootPlan.subject;
    caPlan.serial = {0x02};
    caPlan.key = test::otherRsaKey();
    caPlan.signer = test::rsaKey();
    const data::Bytes ca = test::makeCertificate(caPlan);
    pki::addCertificate(recordOf(root));
    pki::addCertificate(recordOf(ca));

    // The root comes first in the document; the CA still ends up nearer the
    // signer. The second reference's path is in capitals.
    const Outcome run = verifyWith(
        "<QualifyingPropertiesReference URI=\"http://pki.invalid/pki/trust/?hex&amp;" + sha1Hex(root) + "\"/>"
        "<QualifyingPropertiesReference URI=\"http://pki.invalid/PKI/TRUST/?hex&amp;" + sha1Hex(ca) + "\"/>"
        "<QualifyingPropertiesReference URI=\"" + certUrl(signer_) + "\"/>" +
        properties(digestBase64(signer_, EVP_sha1())));
    ASSERT_EQ(run.info.signer.chain.size(), 2u) << run.text;
    EXPECT_EQ(run.info.signer.chain[0].id().str(), sha1Hex(ca));
    EXPECT_EQ(run.info.signer.chain[1].id().str(), sha1Hex(root));
    EXPECT_EQ(run.info.signer.subject.id().str(), sha1Hex(signer_));
    EXPECT_FALSE(run.has(470, 54)) << run.text;
    EXPECT_FALSE(run.has(472, 54)) << run.text;
    EXPECT_FALSE(run.has(471, 55)) << run.text;
}

TEST_F(QualifyingPropertiesTest, MissingOrIncompletePropertiesStopBeforeTheCertificateIsSought) {
    const std::string digest = digestBase64(signer_, EVP_sha1());

    Outcome run = verifyWith("<!-- nothing but a comment -->");
    EXPECT_TRUE(run.has(470, 53)) << run.text;
    EXPECT_NE(run.text.find("nerastas būtinas XML parašo Object laukas"), std::string::npos) << run.text;

    run = verifyWith("<QualifyingProperties Target=\"#DS_1\"><UnsignedProperties/></QualifyingProperties>");
    EXPECT_TRUE(run.has(471, 53)) << run.text;
    EXPECT_FALSE(run.has(470, 54)) << run.text;
    EXPECT_FALSE(run.info.signer.subject.hasCertificate());

    std::string withoutId = properties(digest);
    withoutId.replace(withoutId.find(" Id=\"SP_1\""), 10, "");
    run = verifyWith(withoutId);
    EXPECT_TRUE(run.has(476, 81)) << run.text;
    EXPECT_FALSE(run.has(470, 54)) << run.text;
    EXPECT_FALSE(run.info.signer.subject.hasCertificate());

    // With everything present the same signature gets past these checks.
    run = verifyWith(properties(digest), signer_);
    EXPECT_FALSE(run.has(471, 53) || run.has(476, 81) || run.has(470, 54)) << run.text;
    EXPECT_TRUE(run.info.signer.subject.hasCertificate());
}

TEST_F(QualifyingPropertiesTest, OnlyTheSignedPropertiesTheReferenceCoversAreRead) {
    const std::string good = properties(digestBase64(signer_, EVP_sha1()));

    // A copy with the same Id after the real one names another certificate;
    // the reference finds the first, so that one is read.
    std::string withCopy = good;
    const std::string real = good.substr(good.find("<SignedProperties"),
                                         good.find("</SignedProperties>") + 19 - good.find("<SignedProperties"));
    std::string copy = properties(digestBase64(other_, EVP_sha1()));
    copy = copy.substr(copy.find("<SignedProperties"), real.size());
    withCopy.insert(withCopy.find("</SignedProperties>") + 19, copy);
    Outcome run = verifyWith(withCopy, signer_);
    EXPECT_FALSE(run.has(472, 54)) << run.text;
    EXPECT_EQ(run.info.signer.subject.id().str(), sha1Hex(signer_));

    // SignedProperties that no reference designates are not read at all.
    std::string uncovered = good;
    uncovered.replace(uncovered.find("Id=\"SP_1\""), 9, "Id=\"SP_2\"");
    run = verifyWith(uncovered, signer_);
    EXPECT_TRUE(run.has(477, 53)) << run.text;
    EXPECT_FALSE(run.info.signer.subject.hasCertificate());
    EXPECT_EQ(run.info.signingTime, 0u);
}

TEST_F(QualifyingPropertiesTest, SigningCertificateDigestMayBeAnyOfFourDigestsWhateverItsMethodSays) {
    // DigestMethod names SHA-1 in every case.
    for (const EVP_MD* md : {EVP_sha1(), EVP_sha256(), EVP_sha384(), EVP_sha512()}) {
        const Outcome run = verifyWith(properties(digestBase64(signer_, md)), signer_);
        EXPECT_FALSE(run.has(472, 54)) << EVP_MD_get0_name(md) << ": " << run.text;
        EXPECT_FALSE(run.has(473, 54)) << run.text;
        EXPECT_FALSE(run.has(471, 54)) << run.text;
        EXPECT_FALSE(run.has(471, 55)) << run.text;
        EXPECT_TRUE(run.info.signer.subject.hasCertificate());
    }
    // A digest of another certificate, and one that is not Base64.
    Outcome run = verifyWith(properties(digestBase64(other_, EVP_sha256())), signer_);
    EXPECT_TRUE(run.has(472, 54)) << run.text;
    run = verifyWith(properties("***"), signer_);
    EXPECT_TRUE(run.has(473, 54)) << run.text;
}

TEST_F(QualifyingPropertiesTest, KeyInfoMustHoldTheReferencedCertificate) {
    const std::string object =
        "<QualifyingPropertiesReference URI=\"" + certUrl(signer_) + "\"/>" + properties(digestBase64(signer_, EVP_sha1()));
    Outcome run = verifyWith(object, other_);
    EXPECT_TRUE(run.has(471, 54)) << run.text;
    EXPECT_NE(run.text.find("Nepasiekiamas pasirašiusio asmens sertifikatas"), std::string::npos) << run.text;
    // The reference decides whose certificate it is, not KeyInfo.
    EXPECT_EQ(run.info.signer.subject.id().str(), sha1Hex(signer_));

    run = verifyWith(object, signer_);
    EXPECT_FALSE(run.has(471, 54)) << run.text;
}

TEST_F(QualifyingPropertiesTest, StrayContentStopsTheCheckWhereItStands) {
    const std::string good = properties(digestBase64(signer_, EVP_sha1()));

    Outcome run = verifyWith("<?note x?>" + good, signer_);
    EXPECT_TRUE(run.has(470, 81)) << run.text;
    EXPECT_FALSE(run.info.signer.subject.hasCertificate());

    run = verifyWith("<Extra/>" + good, signer_);
    EXPECT_TRUE(run.has(472, 81)) << run.text;
    EXPECT_FALSE(run.info.signer.subject.hasCertificate());

    // Text that is not blank counts as stray too; blank text and comments do not.
    run = verifyWith("\n  <!-- c -->\n" + good, signer_);
    EXPECT_FALSE(run.has(470, 81)) << run.text;
    run = verifyWith("text" + good, signer_);
    EXPECT_TRUE(run.has(470, 81)) << run.text;

    // Inside QualifyingProperties and the unsigned properties.
    std::string inProperties = good;
    inProperties.insert(inProperties.find("<SignedProperties"), "<?note x?>");
    run = verifyWith(inProperties, signer_);
    EXPECT_TRUE(run.has(475, 81)) << run.text;
    run = verifyWith(properties(digestBase64(signer_, EVP_sha1()),
                                "<UnsignedProperties><UnsignedSignatureProperties><?note x?>"
                                "</UnsignedSignatureProperties></UnsignedProperties>"),
                     signer_);
    EXPECT_TRUE(run.has(474, 81)) << run.text;
    EXPECT_TRUE(run.info.signer.subject.hasCertificate());  // found before the unsigned part was read
}

TEST_F(QualifyingPropertiesTest, ExternalReferencesOtherThanCertificatesAndCrlsAreRefused) {
    const std::string good = properties(digestBase64(signer_, EVP_sha1()));

    Outcome run = verifyWith("<QualifyingPropertiesReference URI=\"http://example.org/page.html\"/>" + good, signer_);
    EXPECT_TRUE(run.has(471, 92)) << run.text;
    EXPECT_NE(run.text.find("Išorimėmis nuorodomis galima perduoti"), std::string::npos) << run.text;

    run = verifyWith("<QualifyingPropertiesReference/>" + good, signer_);
    EXPECT_TRUE(run.has(471, 81)) << run.text;

    // In time-stamp data the other wording is used.
    run = verifyWith(properties(digestBase64(signer_, EVP_sha1()),
                                "<UnsignedProperties><UnsignedSignatureProperties><SignatureTimeStamp>"
                                "<HashDataInfo uri=\"http://example.org/other.xml\"/>"
                                "<EncapsulatedTimeStamp>AAAA</EncapsulatedTimeStamp></SignatureTimeStamp>"
                                "</UnsignedSignatureProperties></UnsignedProperties>"),
                     signer_);
    EXPECT_TRUE(run.has(463, 92)) << run.text;
    EXPECT_NE(run.text.find("Išorinėmis nuorodomis galima perduoti"), std::string::npos) << run.text;
    EXPECT_EQ(run.info.timeStampPresent, 1u);  // seen, though it did not pass
}

}  // namespace
}  // namespace tessal::xml
