#include "platform/cms_message.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/asn1_reader.h"
#include "platform/crypto_provider.h"
#include "platform/last_error.h"
#include "support/test_support.h"

namespace tessal::platform {
namespace {

using Bytes = ByteBlock;

// A TSTInfo-shaped content: version, policy, a message imprint, serial, time.
const Bytes kTstInfo = {0x30, 0x30, 0x02, 0x01, 0x01, 0x06, 0x03, 0x2A, 0x03, 0x04, 0x30, 0x11, 0x30, 0x09, 0x06,
                        0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x04, 0xDE, 0xAD, 0xBE, 0xEF, 0x02,
                        0x02, 0x01, 0x00, 0x18, 0x0F, '2',  '0',  '2',  '4',  '0',  '1',  '0',  '2',  '0',  '3',
                        '0',  '4',  '0',  '5',  'Z'};

struct SignerMaterial {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    Bytes certDer;
    ~SignerMaterial() {
        EVP_PKEY_free(key);
        X509_free(cert);
    }
};

void addEntry(X509_NAME* name, const char* field, const char* value) {
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value), -1, -1, 0);
}

// An RSA key and a self-signed certificate with a several-attribute name and
// a serial whose top bit is set (so its DER content has a leading zero).
std::unique_ptr<SignerMaterial> makeSigner(const char* commonName, long serial) {
    auto out = std::make_unique<SignerMaterial>();
    out->key = EVP_RSA_gen(2048);
    out->cert = X509_new();
    X509* x = out->cert;
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_NAME* name = X509_get_subject_name(x);
    addEntry(name, "C", "LT");
    addEntry(name, "O", "Bandymų centras");
    addEntry(name, "CN", commonName);
    X509_set_issuer_name(x, name);
    X509_set_pubkey(x, out->key);
    X509_sign(x, out->key, EVP_sha256());
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    if (n > 0) out->certDer.assign(der, der + n);
    OPENSSL_free(der);
    return out;
}

Certificate certificateOf(const Bytes& der) {
    auto decoded = Certificate::decode(der.data(), der.size());
    return decoded ? std::move(*decoded) : Certificate{};
}

Bytes derOf(CMS_ContentInfo* message) {
    Bytes out;
    unsigned char* der = nullptr;
    const int n = message ? i2d_CMS_ContentInfo(message, &der) : 0;
    if (n > 0) out.assign(der, der + n);
    OPENSSL_free(der);
    return out;
}

// SignedData over `content` with the time-stamp content type, content
// embedded; `withAttributes` false signs the content digest directly.
Bytes signedToken(const SignerMaterial& signer, const Bytes& content, bool withAttributes) {
    unsigned flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
    if (!withAttributes) flags |= CMS_NOATTR;
    CMS_ContentInfo* message = CMS_sign(signer.cert, signer.key, nullptr, nullptr, flags);
    ASN1_OBJECT* type = OBJ_txt2obj("1.2.840.113549.1.9.16.1.4", 1);
    BIO* data = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    Bytes out;
    if (message && type && data && CMS_set1_eContentType(message, type) == 1 &&
        CMS_final(message, data, nullptr, CMS_BINARY) == 1)
        out = derOf(message);
    BIO_free(data);
    ASN1_OBJECT_free(type);
    CMS_ContentInfo_free(message);
    return out;
}

class CmsMessageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        signer_ = makeSigner("Laiko žymų tarnyba", 0x80A1B2C3L).release();
        other_ = makeSigner("Kita tarnyba", 5).release();
    }
    static void TearDownTestSuite() {
        delete signer_;
        delete other_;
    }
    void SetUp() override {
        ASSERT_FALSE(signer_->certDer.empty());
        ASSERT_FALSE(other_->certDer.empty());
    }

    static CmsMessage decodeOrFail(const Bytes& der) {
        auto message = CmsMessage::decode(der.data(), der.size());
        EXPECT_TRUE(message.has_value());
        return message ? std::move(*message) : CmsMessage{};
    }

    static SignerMaterial* signer_;
    static SignerMaterial* other_;
};

SignerMaterial* CmsMessageTest::signer_ = nullptr;
SignerMaterial* CmsMessageTest::other_ = nullptr;

TEST_F(CmsMessageTest, ExposesContentAndSignerIdentifier) {
    const Certificate cert = certificateOf(signer_->certDer);
    for (bool withAttributes : {true, false}) {
        SCOPED_TRACE(withAttributes);
        const Bytes token = signedToken(*signer_, kTstInfo, withAttributes);
        ASSERT_FALSE(token.empty());
        const CmsMessage message = decodeOrFail(token);
        EXPECT_EQ(message.content(), kTstInfo);
        ASSERT_EQ(message.signerCount(), 1u);

        const auto id = message.signer(0);
        ASSERT_TRUE(id.has_value());
        const auto expected = cert.issuer();
        ASSERT_EQ(id->issuer.size(), 3u);
        ASSERT_EQ(id->issuer.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(id->issuer[i].oid, expected[i].oid);
            EXPECT_EQ(id->issuer[i].value, expected[i].value);
            EXPECT_EQ(id->issuer[i].rdn, expected[i].rdn);
        }
        EXPECT_EQ(id->issuer[2].value, "Laiko žymų tarnyba");
        EXPECT_EQ(id->serial, (Bytes{0x00, 0x80, 0xA1, 0xB2, 0xC3}));
        EXPECT_EQ(id->serial, cert.serial());

        setLastError(0);
        EXPECT_FALSE(message.signer(1).has_value());
        EXPECT_EQ(lastError(), kCryptSignerNotFound);
    }
}

TEST_F(CmsMessageTest, VerifiesSignerOnlyWithItsOwnCertificate) {
    const Certificate right = certificateOf(signer_->certDer);
    const Certificate wrong = certificateOf(other_->certDer);
    for (bool withAttributes : {true, false}) {
        SCOPED_TRACE(withAttributes);
        const CmsMessage message = decodeOrFail(signedToken(*signer_, kTstInfo, withAttributes));
        EXPECT_TRUE(message.verifySigner(0, right));

        setLastError(0);
        EXPECT_FALSE(message.verifySigner(0, wrong));
        EXPECT_EQ(lastError(), kNteBadSignature);
        EXPECT_EQ(ERR_peek_error(), 0u);

        // A failed check leaves nothing behind that spoils the next one.
        EXPECT_TRUE(message.verifySigner(0, right));

        setLastError(0);
        EXPECT_FALSE(message.verifySigner(1, right));
        EXPECT_EQ(lastError(), kCryptSignerNotFound);

        setLastError(0);
        EXPECT_FALSE(message.verifySigner(0, Certificate{}));
        EXPECT_EQ(lastError(), kNteBadPublicKey);
    }
}

TEST_F(CmsMessageTest, AlteredContentFailsVerification) {
    const Certificate cert = certificateOf(signer_->certDer);
    for (bool withAttributes : {true, false}) {
        SCOPED_TRACE(withAttributes);
        Bytes token = signedToken(*signer_, kTstInfo, withAttributes);
        const auto at = std::search(token.begin(), token.end(), kTstInfo.begin(), kTstInfo.end());
        ASSERT_NE(at, token.end());
        *(at + 27) ^= 0x01;  // inside the message imprint
        const CmsMessage message = decodeOrFail(token);
        ASSERT_NE(message.content(), kTstInfo);
        setLastError(0);
        EXPECT_FALSE(message.verifySigner(0, cert));
        EXPECT_EQ(lastError(), kNteBadSignature);
    }
}

TEST_F(CmsMessageTest, DecodeRejectsUndecodableAndOtherMessages) {
    const Bytes garbage{0x01, 0x02, 0x03, 0x04, 0x05};
    setLastError(0);
    EXPECT_FALSE(CmsMessage::decode(garbage.data(), garbage.size()).has_value());
    EXPECT_EQ(lastError(), kAsn1BadTag);

    const Bytes token = signedToken(*signer_, kTstInfo, true);
    setLastError(0);
    EXPECT_FALSE(CmsMessage::decode(token.data(), token.size() / 2).has_value());
    EXPECT_EQ(lastError(), kAsn1BadTag);

    setLastError(0);
    EXPECT_FALSE(CmsMessage::decode(nullptr, 0).has_value());
    EXPECT_EQ(lastError(), kAsn1BadTag);

    BIO* data = BIO_new_mem_buf(kTstInfo.data(), static_cast<int>(kTstInfo.size()));
    CMS_ContentInfo* plain = CMS_data_create(data, CMS_BINARY);
    const Bytes plainDer = derOf(plain);
    CMS_ContentInfo_free(plain);
    BIO_free(data);
    ASSERT_FALSE(plainDer.empty());
    setLastError(0);
    EXPECT_FALSE(CmsMessage::decode(plainDer.data(), plainDer.size()).has_value());
    EXPECT_EQ(lastError(), kCryptUnexpectedMessageType);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(CmsMessageTest, MovedMessageKeepsItsContent) {
    CmsMessage first = decodeOrFail(signedToken(*signer_, kTstInfo, true));
    CmsMessage second(std::move(first));
    EXPECT_EQ(second.content(), kTstInfo);
    EXPECT_EQ(first.signerCount(), 0u);  // the moved-from message is empty
    CmsMessage third;
    third = std::move(second);
    EXPECT_EQ(third.signerCount(), 1u);
    EXPECT_TRUE(third.verifySigner(0, certificateOf(signer_->certDer)));
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

Bytes fileBytes(const std::string& path) {
    const std::string text = test::readWholeFile(path);
    return Bytes(text.begin(), text.end());
}

// A token issued by the command-line time-stamp authority of the openssl tool.
TEST(CmsTimeStampToken, DecodesAndVerifiesTokenFromOpensslTool) {
    if (!run("command -v openssl >/dev/null 2>&1")) TESSAL_SKIP_UNLESS_CI("openssl is not on PATH");
    test::TempDir dir;
    const std::string log = " >>'" + dir.file("log") + "' 2>&1";
    test::writeWholeFile(dir.file("serial"), "01\n");
    test::writeWholeFile(dir.file("data"), "document to stamp\n");
    test::writeWholeFile(dir.file("tsa.cnf"),
                         "[ tsa ]\n"
                         "default_tsa = tsa_config\n"
                         "[ tsa_config ]\n"
                         "serial = " + dir.file("serial") + "\n"
                         "signer_cert = " + dir.file("tsa.pem") + "\n"
                         "signer_key = " + dir.file("tsa.key") + "\n"
                         "certs = " + dir.file("tsa.pem") + "\n"
                         "signer_digest = sha256\n"
                         "default_policy = 1.2.3.4.1\n"
                         "digests = sha1, sha256\n"
                         "ess_cert_id_alg = sha1\n"
                         "accuracy = secs:1\n");
    const std::string d = "'" + dir.path().string() + "/";
    ASSERT_TRUE(run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/C=LT/O=Test/CN=Test TSA'"
                    " -addext 'extendedKeyUsage=critical,timeStamping' -keyout " + d + "tsa.key' -out " + d +
                    "tsa.pem'" + log));
    ASSERT_TRUE(run("openssl x509 -in " + d + "tsa.pem' -outform DER -out " + d + "tsa.der'" + log));
    ASSERT_TRUE(run("openssl ts -query -data " + d + "data' -sha1 -cert -out " + d + "q.tsq'" + log));
    ASSERT_TRUE(run("openssl ts -reply -config " + d + "tsa.cnf' -queryfile " + d + "q.tsq' -token_out -out " + d +
                    "token.der'" + log))
        << test::readWholeFile(dir.file("log"));

    const Bytes token = fileBytes(dir.file("token.der"));
    const Certificate tsaCert = certificateOf(fileBytes(dir.file("tsa.der")));
    ASSERT_FALSE(tsaCert.empty());
    auto message = CmsMessage::decode(token.data(), token.size());
    ASSERT_TRUE(message.has_value());
    ASSERT_EQ(message->signerCount(), 1u);
    const auto id = message->signer(0);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->serial, tsaCert.serial());
    ASSERT_EQ(id->issuer.size(), 3u);
    EXPECT_EQ(id->issuer[2].value, "Test TSA");
    EXPECT_TRUE(message->verifySigner(0, tsaCert));
    EXPECT_FALSE(message->verifySigner(0, certificateOf(makeSigner("Kita", 9)->certDer)));

    // The content is the TSTInfo: version, policy, imprint, serial, time, ...
    const auto content = message->content();
    ASSERT_TRUE(content.has_value());
    const auto fields = decodeSequenceOfAny(content->data(), content->size());
    ASSERT_TRUE(fields.has_value());
    ASSERT_GE(fields->size(), 5u);
    EXPECT_EQ((*fields)[0], (Bytes{0x02, 0x01, 0x01}));
    EXPECT_EQ((*fields)[4][0], 0x18);  // GeneralizedTime
}

}  // namespace
}  // namespace tessal::platform
