#include "xades/signature_creation.h"

#include <gtest/gtest.h>
#include <libxml/c14n.h>
#include <libxml/parser.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

#include "crypto/signer_context.h"
#include "crypto/signer_fakes.h"
#include "pki/certificate_store.h"
#include "xades/signature_info.h"
#include "xades/verification.h"

namespace tessal::xml {
namespace {

constexpr const char* kMessage =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- before -->\n<Msg Type=\"Invoice\"><Header><MsgId>INV-1</MsgId>"
    "<Sender>UAB Ąžuolynas</Sender></Header><Docs><Doc>42 &amp; 43</Doc></Docs></Msg>";

class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope() {
        if (saved_) ::setenv("TZ", saved_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> saved_;
};

// An HSM signer whose key signs with the test key and whose certificate is
// found by the key's hash in the store.
class CreationTest : public ::testing::Test {
protected:
    void SetUp() override {
        certificate_ = test::signerCertificate();
        pki::addCertificate(test::recordOf(certificate_));
        test::FakeKeyPlan plan;
        plan.blob = test::keyBlobOf(certificate_);
        state_ = fake_.keys().container("Fake HSM", "HSM", "signer");
        state_->keys[platform::KeySpec::Exchange] = plan;
    }

    std::string sign(const std::string& document, SignatureInfo& info, bool expectOk = true) {
        crypto::SignerContext signer("HSM", "Fake HSM", "signer");
        SignatureJob job(document.data(), document.size(), &signer, &info);
        const bool ok = createSignature(job);
        EXPECT_EQ(ok, expectOk) << job.error().text.str();
        return ok ? std::string(job.text()) : job.error().text.str();
    }

    test::SignerEnvironment environment_;
    test::FakePlatform fake_;
    test::ByteBlock certificate_;
    std::shared_ptr<test::FakeProviderState> state_;
};

// The inclusive canonical form of a document, by libxml2 directly.
std::string canonical(const std::string& document) {
    xmlDocPtr doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr, nullptr, XML_PARSE_NOENT);
    xmlChar* out = nullptr;
    const int n = xmlC14NDocDumpMemory(doc, nullptr, XML_C14N_1_0, nullptr, 0, &out);
    std::string text(reinterpret_cast<const char*>(out), n > 0 ? static_cast<std::size_t>(n) : 0);
    xmlFree(out);
    xmlFreeDoc(doc);
    return text;
}

std::string sha256Base64(const std::string& octets) {
    std::string out;
    crypto::digestBase64(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size(), out, crypto::CALG_SHA_256);
    return out;
}

TEST_F(CreationTest, TheSignatureIsTheTemplatesFilledIn) {
    ZoneScope zone("EET-2");
    SignatureInfo info;
    const std::string output = sign(kMessage, info);

    auto part = [&](const char* pattern) {
        std::smatch m;
        EXPECT_TRUE(std::regex_search(output, m, std::regex(pattern))) << pattern << "\n" << output;
        return m.size() > 1 ? m[1].str() : std::string();
    };
    const std::string id = part("Id=\"DS_([0-9A-F]{32})\"");
    const std::string time = part("<SigningTime>([^<]*)</SigningTime>");
    const std::string documentDigest = part("<Reference URI=\"\">.*?<DigestValue>([^<]*)</DigestValue>");
    const std::string propertiesDigest = part("<Reference URI=\"#SP_.*?<DigestValue>([^<]*)</DigestValue>");
    const std::string value = part("<SignatureValue>([^<]*)</SignatureValue>");
    const certs::CertificateRecord record = test::recordOf(certificate_);
    const std::string signedProperties =
        "<SignedProperties Id=\"SP_" + id + "\"><SignedSignatureProperties><SigningTime>" + time +
        "</SigningTime><SigningCertificate><Cert><CertDigest><DigestMethod "
        "Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue>" + record.idBase64().str() +
        "</DigestValue></CertDigest><IssuerSerial><ds:X509IssuerName>" + record.issuer().str() +
        "</ds:X509IssuerName><ds:X509SerialNumber>" + record.serialNumber().str() +
        "</ds:X509SerialNumber></IssuerSerial></Cert></SigningCertificate><SignaturePolicyIdentifier>"
        "<SignaturePolicyImplied/></SignaturePolicyIdentifier></SignedSignatureProperties></SignedProperties>";
    // Serialising the document writes namespace declarations before attributes.
    const std::string expected =
        "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\" Id=\"DS_" + id + "\"><SignedInfo>"
        "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
        "<SignatureMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/><Reference URI=\"\">"
        "<Transforms><Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/></Transforms>"
        "<DigestMethod Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/><DigestValue>" + documentDigest +
        "</DigestValue></Reference><Reference URI=\"#SP_" + id +
        "\" Type=\"http://uri.etsi.org/01903/v1.1.1#SignedProperties\"><DigestMethod "
        "Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/><DigestValue>" + propertiesDigest +
        "</DigestValue></Reference></SignedInfo><SignatureValue>" + value +
        "</SignatureValue><ds:Object xmlns=\"http://uri.etsi.org/01903/v1.1.1#\" "
        "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><QualifyingPropertiesReference "
        "URI=\"http://pki.invalid/pki/cert/?" + record.idBase64().str() + "\"/><QualifyingProperties Target=\"#DS_" + id +
        "\">" + signedProperties + "</QualifyingProperties></ds:Object></Signature>";
    EXPECT_NE(output.find(expected + "</EDoc>"), std::string::npos) << output;

    // The document digest covers the wrapped document without the signature.
    const std::string wrapped =
        "<!-- before -->\n<EDoc><Msg Type=\"Invoice\"><Header><MsgId>INV-1</MsgId><Sender>UAB Ąžuolynas</Sender>"
        "</Header><Docs><Doc>42 &amp; 43</Doc></Docs></Msg></EDoc>";
    EXPECT_EQ(documentDigest, sha256Base64(canonical(wrapped)));
    // A zone two hours east of UTC is written with its offset.
    EXPECT_TRUE(std::regex_match(time, std::regex("\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\+02:00"))) << time;
    // The comment before the root keeps its place; the root becomes EDoc.
    EXPECT_NE(output.find("<!-- before -->\n<EDoc><Msg Type=\"Invoice\">"), std::string::npos);

    EXPECT_EQ(info.signaturePresent, 1u);
    EXPECT_EQ(info.messageHeader.MsgId.str(), "INV-1");
    EXPECT_EQ(info.signatureBytes.size(), 128u);
    EXPECT_EQ(info.signer.subject.id(), record.id());
    EXPECT_NEAR(static_cast<double>(crypto::secondsOfFileTime(info.signingTime)), static_cast<double>(std::time(nullptr)), 5);

    // Our verifier accepts what was written, and the value is least significant byte first.
    VerificationJob check(output.data(), output.size(), nullptr, nullptr);
    EXPECT_TRUE(verifySignature(check)) << check.error().text.str();
}

TEST_F(CreationTest, MarkupCharactersInTheIssuerNameStayText) {
    pki::clearCertificateStoreForTesting();
    certificate_ = test::signerCertificate({.issuerOrganisation = "Norvata & Keldas <\"Bandymai\">"});
    pki::addCertificate(test::recordOf(certificate_));
    SignatureInfo info;
    const std::string output = sign(kMessage, info);

    const std::string issuer = test::recordOf(certificate_).issuer().str();
    ASSERT_NE(issuer.find("Norvata & Keldas <\"Bandymai\">"), std::string::npos) << issuer;
    std::string serialised;  // text content as libxml2 writes it back
    for (const char c : issuer) {
        serialised += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    }
    EXPECT_NE(output.find("<ds:X509IssuerName>" + serialised + "</ds:X509IssuerName>"), std::string::npos) << output;
    VerificationJob check(output.data(), output.size(), nullptr, nullptr);
    EXPECT_TRUE(verifySignature(check)) << check.error().text.str();
}

TEST_F(CreationTest, AnEDocRootIsNotWrappedAgainAndTwoSignaturesDiffer) {
    ZoneScope zone("UTC0");
    SignatureInfo first, second;
    const std::string document = "<EDoc><Msg>x</Msg></EDoc>";
    const std::string a = sign(document, first);
    const std::string b = sign(document, second);
    EXPECT_EQ(a.find("<EDoc><EDoc>"), std::string::npos);
    EXPECT_NE(a.find("<EDoc><Msg>x</Msg><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\" Id=\"DS_"),
              std::string::npos)
        << a;
    auto idOf = [](const std::string& text) { return text.substr(text.find("DS_"), 35); };
    EXPECT_NE(idOf(a), idOf(b));
    EXPECT_NE(first.signatureBytes, second.signatureBytes);
    // In a UTC zone the time ends in Z.
    EXPECT_TRUE(std::regex_search(a, std::regex("<SigningTime>[0-9T:-]{19}Z</SigningTime>"))) << a;
}

TEST_F(CreationTest, AnHsmThatCannotHashSha256SignsWithSha1Throughout) {
    ZoneScope zone("EST5");
    state_->refusedDigests = {platform::DigestKind::Sha256};
    SignatureInfo info;
    const std::string output = sign(kMessage, info);
    EXPECT_NE(output.find("<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>"),
              std::string::npos);
    EXPECT_EQ(output.find("sha256"), std::string::npos);
    // West of UTC the offset is negative.
    EXPECT_TRUE(std::regex_search(output, std::regex("<SigningTime>[0-9T:-]{19}-05:00</SigningTime>"))) << output;
    VerificationJob check(output.data(), output.size(), nullptr, nullptr);
    EXPECT_TRUE(verifySignature(check)) << check.error().text.str();
}

TEST_F(CreationTest, FailuresReachTheJobAndTheResult) {
    {
        SignatureInfo info;
        const std::string document = "<Msg/>";
        SignatureJob job(document.data(), document.size(), nullptr, &info);
        EXPECT_FALSE(createSignature(job));
        EXPECT_EQ(info.error.code, diag::errorCode(409, 61));
    }
    {
        // No certificate for the key: the signer's reason is merged, and the document stays unsigned.
        pki::clearCertificateStoreForTesting();
        SignatureInfo info;
        const std::string text = sign("<Msg/>", info, false);
        EXPECT_NE(text.find(std::to_string(diag::errorCode(203, 35))), std::string::npos) << text;
        EXPECT_EQ(info.error.code, diag::errorCode(203, 35));
        EXPECT_EQ(info.signaturePresent, 0u);
    }
    {
        SignatureInfo info;
        const std::string text = sign("<Msg>", info, false);
        EXPECT_NE(text.find("70301"), std::string::npos) << text;
    }
}

TEST(SigningIdentifiers, ThirtyTwoUpperCaseHexDigitsOfAVersion4Uuid) {
    const std::string id = randomIdentifier();
    ASSERT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{32}"))) << id;
    EXPECT_EQ(id[12], '4');
    EXPECT_NE(id, randomIdentifier());
}

}  // namespace
}  // namespace tessal::xml
