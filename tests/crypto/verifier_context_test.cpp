#include "crypto/verifier_context.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <string>

#include "pki/certificate_store.h"
#include "pki/fake_pki_source.h"
#include "support/test_pki.h"
#include "support/test_support.h"

namespace tessal::crypto {
namespace {

const data::Bytes kData{'s', 'i', 'g', 'n', 'e', 'd', ' ', 'i', 'n', 'f', 'o'};

// A PKCS #1 (big-endian) RSA signature made with libcrypto, as another signer writes it.
data::Bytes pkcs1Signature(const EVP_MD* md, const data::Bytes& data) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::size_t size = 0;
    EVP_DigestSignInit(ctx, nullptr, md, nullptr, test::rsaKey().get());
    EVP_DigestSign(ctx, nullptr, &size, data.data(), data.size());
    data::Bytes out(size);
    EVP_DigestSign(ctx, out.data(), &size, data.data(), data.size());
    EVP_MD_CTX_free(ctx);
    out.resize(size);
    return out;
}

std::string base64(const data::Bytes& bytes) {
    std::string out;
    data::base64Encode(bytes, out);
    return out;
}

// A verifier whose key is the test signer's, imported by certificate hash
// from the store.
class VerifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CACHE_HOME", cache_.path().c_str(), 1);
        pki::clearCertificateStoreForTesting();
        const data::Bytes der = test::makeCertificate({});
        certs::CertificateRecord record;
        ASSERT_TRUE(record.fromDer(der.data(), der.size()));
        pki::addCertificate(record);
        id_ = record.id().str();
        verifier_.certificates.certificateClient = std::make_unique<test::FakePkiSource>();
        ASSERT_TRUE(verifier_.importPublicKey(pki::CertByHash, id_)) << verifier_.error().text.str();
    }
    void TearDown() override { pki::clearCertificateStoreForTesting(); }

    test::TempDir cache_;
    std::string id_;
    VerifierContext verifier_;
};

TEST_F(VerifierTest, SignaturesVerifyInEitherByteOrderWithEveryDigest) {
    const struct {
        const EVP_MD* md;
        AlgId algId;
    } algorithms[] = {{EVP_sha1(), CALG_SHA1}, {EVP_sha1(), 0}, {EVP_sha256(), CALG_SHA_256},
                      {EVP_sha384(), CALG_SHA_384}, {EVP_sha512(), CALG_SHA_512}};
    for (const auto& a : algorithms) {
        data::Bytes signature = pkcs1Signature(a.md, kData);
        data::Bytes reversed(signature.rbegin(), signature.rend());
        EXPECT_TRUE(verifier_.verifyBase64(kData.data(), kData.size(), a.algId, base64(signature)));
        data::Bytes raw;
        EXPECT_TRUE(verifier_.verifyBase64(kData.data(), kData.size(), a.algId, base64(reversed), &raw));
        // The raw buffer holds the order that matched: least significant byte first.
        EXPECT_EQ(raw, reversed);
        EXPECT_TRUE(verifier_.verifyBase64(kData.data(), kData.size(), a.algId, base64(signature), &raw));
        EXPECT_EQ(raw, reversed);
        EXPECT_FALSE(verifier_.hashInProgress());
    }
    EXPECT_TRUE(verifier_.error().empty()) << verifier_.error().text.str();
}

TEST_F(VerifierTest, AMismatchIsRecordedAndLeavesTheBufferReversed) {
    data::Bytes signature = pkcs1Signature(EVP_sha256(), kData);
    signature[10] ^= 0x01;
    data::Bytes raw;
    EXPECT_FALSE(verifier_.verifyBase64(kData.data(), kData.size(), CALG_SHA_256, base64(signature), &raw));
    EXPECT_EQ(verifier_.error().code, diag::errorCode(502, 30));
    EXPECT_EQ(raw, data::Bytes(signature.rbegin(), signature.rend()));

    VerifierContext other;
    // Only an empty text fails to decode (characters outside the alphabet are skipped).
    EXPECT_FALSE(other.verifyBase64(kData.data(), kData.size(), CALG_SHA1, ""));
    EXPECT_EQ(other.error().code, diag::errorCode(504, 7));
    data::Bytes buffer{1, 2};
    EXPECT_FALSE(other.verifyBase64(kData.data(), kData.size(), CALG_SHA1, "", &buffer));
    EXPECT_EQ(other.error().code, diag::errorCode(503, 7));
    EXPECT_TRUE(buffer.empty());
}

TEST_F(VerifierTest, HashingKeepsTheFirstAlgorithmAndCopiesDuplicateTheHash) {
    // Two blocks, the second asking for another algorithm: both go into the first hash.
    ASSERT_TRUE(verifier_.hashData(kData.data(), 5, CALG_SHA_256));
    ASSERT_TRUE(verifier_.hashData(kData.data() + 5, kData.size() - 5, CALG_SHA1));
    const VerifierContext copy(verifier_);
    EXPECT_TRUE(copy.hashInProgress());
    EXPECT_FALSE(copy.hasPublicKey());  // keys are not copied
    EXPECT_EQ(copy.certificates.subject.id().str(), id_);
    verifier_.releaseProvider();
    EXPECT_FALSE(verifier_.hashInProgress());
    EXPECT_FALSE(verifier_.hasProvider());
    EXPECT_TRUE(verifier_.hasPublicKey());

    VerifierContext fresh;
    EXPECT_FALSE(fresh.hashData(kData.data(), kData.size(), 0x1234));
    EXPECT_EQ(fresh.error().code, diag::errorCode(3, 1));
}

TEST_F(VerifierTest, ImportFailuresNameTheKey) {
    VerifierContext verifier;
    verifier.certificates.certificateClient = std::make_unique<test::FakePkiSource>();
    EXPECT_FALSE(verifier.importPublicKey(pki::CertByHash, "00AA"));
    EXPECT_EQ(verifier.error().code, diag::errorCode(6, 71));
    EXPECT_NE(verifier.error().text.str().find("Nepasiekiamas sertifikatas: 00AA"), std::string::npos);

    VerifierContext byUrl;
    byUrl.certificates.certificateClient = std::make_unique<test::FakePkiSource>();
    EXPECT_FALSE(byUrl.importPublicKeyFromUrl("http://pki.example/pki/cert/?hex&00AA"));
    EXPECT_EQ(byUrl.error().code, diag::errorCode(505, 71));

    // A certificate with an elliptic-curve key cannot be imported.
    test::CertPlan plan;
    plan.subject = {{"CN", "Elliptic"}};
    plan.key = test::ecKey();
    plan.signer = test::rsaKey();
    const data::Bytes der = test::makeCertificate(plan);
    VerifierContext ec;
    ec.certificates.certificateClient = std::make_unique<test::FakePkiSource>();
    auto* source = static_cast<test::FakePkiSource*>(ec.certificates.certificateClient.get());
    source->answer(pki::CertByHash, "ABCD", test::certificateDocument(der));
    ec.importPublicKey(pki::CertByHash, "ABCD");
    EXPECT_FALSE(ec.hasPublicKey());
}

}  // namespace
}  // namespace tessal::crypto
