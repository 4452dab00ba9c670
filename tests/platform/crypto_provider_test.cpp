#include "platform/crypto_provider.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <string>

#include "platform/last_error.h"

namespace tessal::platform {
namespace {

using Bytes = ByteBlock;

// A self-signed certificate over `key`, as DER.
Bytes selfSignedDer(EVP_PKEY* key, const char* commonName) {
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                               0);
    X509_set_issuer_name(x, name);
    X509_set_pubkey(x, key);
    Bytes der;
    if (X509_sign(x, key, EVP_sha256()) > 0) {
        unsigned char* out = nullptr;
        const int n = i2d_X509(x, &out);
        if (n > 0) der.assign(out, out + n);
        OPENSSL_free(out);
    }
    X509_free(x);
    return der;
}

Certificate certificateOf(const Bytes& der) {
    auto decoded = Certificate::decode(der.data(), der.size());
    return decoded ? std::move(*decoded) : Certificate{};
}

const EVP_MD* mdOf(DigestKind kind) {
    switch (kind) {
        case DigestKind::Sha1: return EVP_sha1();
        case DigestKind::Sha256: return EVP_sha256();
        case DigestKind::Sha384: return EVP_sha384();
        case DigestKind::Sha512: return EVP_sha512();
    }
    return nullptr;
}

// An RSASSA-PKCS1-v1_5 signature of `data`, most significant byte first.
Bytes signBigEndian(EVP_PKEY* key, DigestKind kind, const std::string& data) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    Bytes out;
    std::size_t length = 0;
    if (EVP_DigestSignInit(ctx, nullptr, mdOf(kind), nullptr, key) == 1 &&
        EVP_DigestSign(ctx, nullptr, &length, reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1) {
        out.resize(length);
        if (EVP_DigestSign(ctx, out.data(), &length, reinterpret_cast<const unsigned char*>(data.data()),
                           data.size()) == 1)
            out.resize(length);
        else
            out.clear();
    }
    EVP_MD_CTX_free(ctx);
    return out;
}

Bytes reversed(Bytes bytes) {
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

class CryptoProviderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rsaKey_ = EVP_RSA_gen(2048);
        otherRsaKey_ = EVP_RSA_gen(2048);
        ecKey_ = EVP_EC_gen("P-256");
        rsaCertDer_ = new Bytes(selfSignedDer(rsaKey_, "RSA signer"));
        ecCertDer_ = new Bytes(selfSignedDer(ecKey_, "EC signer"));
    }
    static void TearDownTestSuite() {
        EVP_PKEY_free(rsaKey_);
        EVP_PKEY_free(otherRsaKey_);
        EVP_PKEY_free(ecKey_);
        delete rsaCertDer_;
        delete ecCertDer_;
    }

    void SetUp() override {
        ASSERT_NE(rsaKey_, nullptr);
        ASSERT_NE(ecKey_, nullptr);
        ASSERT_FALSE(rsaCertDer_->empty());
        provider_ = acquireVerifyProvider();
        ASSERT_NE(provider_, nullptr);
    }

    std::unique_ptr<HashObject> hashOf(DigestKind kind, const std::string& data) {
        auto hash = provider_->createHash(kind);
        if (hash) hash->update(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        return hash;
    }

    std::unique_ptr<PublicKey> rsaPublicKey() { return provider_->importPublicKey(certificateOf(*rsaCertDer_)); }

    static EVP_PKEY* rsaKey_;
    static EVP_PKEY* otherRsaKey_;
    static EVP_PKEY* ecKey_;
    static Bytes* rsaCertDer_;
    static Bytes* ecCertDer_;
    std::shared_ptr<CryptoProvider> provider_;
};

EVP_PKEY* CryptoProviderTest::rsaKey_ = nullptr;
EVP_PKEY* CryptoProviderTest::otherRsaKey_ = nullptr;
EVP_PKEY* CryptoProviderTest::ecKey_ = nullptr;
Bytes* CryptoProviderTest::rsaCertDer_ = nullptr;
Bytes* CryptoProviderTest::ecCertDer_ = nullptr;

constexpr DigestKind kAllKinds[] = {DigestKind::Sha1, DigestKind::Sha256, DigestKind::Sha384, DigestKind::Sha512};

TEST_F(CryptoProviderTest, HashValueMatchesOneShotDigestAndStaysUsable) {
    for (DigestKind kind : kAllKinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        auto hash = hashOf(kind, "first part");
        ASSERT_NE(hash, nullptr);
        EXPECT_EQ(hash->kind(), kind);
        const Bytes first = bytesOf("first part");
        EXPECT_EQ(hash->value(), computeDigest(kind, first.data(), first.size()));
        EXPECT_EQ(hash->value(), computeDigest(kind, first.data(), first.size()));  // asking again changes nothing

        ASSERT_TRUE(hash->update(reinterpret_cast<const std::uint8_t*>(", more"), 6));
        const Bytes both = bytesOf("first part, more");
        EXPECT_EQ(hash->value(), computeDigest(kind, both.data(), both.size()));
        EXPECT_EQ(hash->value()->size(), digestSize(kind));
    }
}

TEST_F(CryptoProviderTest, DuplicateIsIndependentOfTheOriginal) {
    auto original = hashOf(DigestKind::Sha256, "shared ");
    ASSERT_NE(original, nullptr);
    auto copy = original->duplicate();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->kind(), DigestKind::Sha256);

    ASSERT_TRUE(original->update(reinterpret_cast<const std::uint8_t*>("left"), 4));
    ASSERT_TRUE(copy->update(reinterpret_cast<const std::uint8_t*>("right"), 5));
    const Bytes left = bytesOf("shared left");
    const Bytes right = bytesOf("shared right");
    EXPECT_EQ(original->value(), computeDigest(DigestKind::Sha256, left.data(), left.size()));
    EXPECT_EQ(copy->value(), computeDigest(DigestKind::Sha256, right.data(), right.size()));

    original.reset();  // the copy owns its own state
    EXPECT_EQ(copy->value(), computeDigest(DigestKind::Sha256, right.data(), right.size()));
}

TEST_F(CryptoProviderTest, HashRejectsUnknownAlgorithmAndMissingData) {
    setLastError(0);
    EXPECT_EQ(provider_->createHash(static_cast<DigestKind>(99)), nullptr);
    EXPECT_EQ(lastError(), kNteBadAlgorithm);

    auto hash = provider_->createHash(DigestKind::Sha1);
    ASSERT_NE(hash, nullptr);
    EXPECT_TRUE(hash->update(nullptr, 0));
    EXPECT_FALSE(hash->update(nullptr, 3));
    EXPECT_EQ(lastError(), kNteFail);
}

TEST_F(CryptoProviderTest, LeastSignificantFirstSignatureVerifiesForEveryDigest) {
    auto key = rsaPublicKey();
    ASSERT_NE(key, nullptr);
    for (DigestKind kind : kAllKinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        const Bytes bigEndian = signBigEndian(rsaKey_, kind, "message to sign");
        ASSERT_EQ(bigEndian.size(), 256u);
        const Bytes lsbFirst = reversed(bigEndian);
        auto hash = hashOf(kind, "message to sign");
        EXPECT_TRUE(key->verify(*hash, lsbFirst.data(), lsbFirst.size()));

        // The other byte order is the caller's second attempt, not this key's.
        setLastError(0);
        EXPECT_FALSE(key->verify(*hash, bigEndian.data(), bigEndian.size()));
        EXPECT_EQ(lastError(), kNteBadSignature);
        EXPECT_EQ(ERR_peek_error(), 0u);
    }
}

TEST_F(CryptoProviderTest, AlteredSignatureOrDataFails) {
    auto key = rsaPublicKey();
    ASSERT_NE(key, nullptr);
    const Bytes signature = reversed(signBigEndian(rsaKey_, DigestKind::Sha256, "payload"));
    auto hash = hashOf(DigestKind::Sha256, "payload");
    ASSERT_TRUE(key->verify(*hash, signature.data(), signature.size()));

    for (std::size_t at : {std::size_t{0}, signature.size() / 2, signature.size() - 1}) {
        Bytes flipped = signature;
        flipped[at] ^= 0x01;
        setLastError(0);
        EXPECT_FALSE(key->verify(*hash, flipped.data(), flipped.size())) << "byte " << at;
        EXPECT_EQ(lastError(), kNteBadSignature);
    }

    auto otherData = hashOf(DigestKind::Sha256, "payloaD");
    EXPECT_FALSE(key->verify(*otherData, signature.data(), signature.size()));

    // The DigestInfo names the algorithm: a SHA-1 hash of the same data does
    // not match a SHA-256 signature.
    auto otherAlgorithm = hashOf(DigestKind::Sha1, "payload");
    EXPECT_FALSE(key->verify(*otherAlgorithm, signature.data(), signature.size()));

    const Bytes foreign = reversed(signBigEndian(otherRsaKey_, DigestKind::Sha256, "payload"));
    EXPECT_FALSE(key->verify(*hash, foreign.data(), foreign.size()));
    EXPECT_EQ(lastError(), kNteBadSignature);
    EXPECT_EQ(ERR_peek_error(), 0u);

    // The hash is still intact after the failures.
    EXPECT_TRUE(key->verify(*hash, signature.data(), signature.size()));
}

TEST_F(CryptoProviderTest, WrongSignatureLengthFails) {
    auto key = rsaPublicKey();
    ASSERT_NE(key, nullptr);
    const Bytes signature = reversed(signBigEndian(rsaKey_, DigestKind::Sha256, "payload"));
    auto hash = hashOf(DigestKind::Sha256, "payload");

    const Bytes shorter(signature.begin(), signature.end() - 1);
    Bytes longer = signature;
    longer.push_back(0);
    for (const Bytes& candidate : {shorter, longer, Bytes{}}) {
        setLastError(0);
        EXPECT_FALSE(key->verify(*hash, candidate.data(), candidate.size()));
        EXPECT_EQ(lastError(), kNteBadSignature);
    }
    EXPECT_FALSE(key->verify(*hash, nullptr, signature.size()));
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(CryptoProviderTest, ImportAcceptsOnlyRsaKeys) {
    setLastError(0);
    EXPECT_EQ(provider_->importPublicKey(certificateOf(*ecCertDer_)), nullptr);
    EXPECT_EQ(lastError(), kNteBadPublicKey);

    setLastError(0);
    EXPECT_EQ(provider_->importPublicKey(Certificate{}), nullptr);
    EXPECT_EQ(lastError(), kNteBadKey);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(CryptoProviderTest, VerifyOnlyProviderHoldsNoUserKeys) {
    for (KeySpec spec : {KeySpec::Exchange, KeySpec::Signature}) {
        setLastError(0);
        EXPECT_EQ(provider_->userKey(spec), nullptr);
        EXPECT_EQ(lastError(), kNteNoKey);
    }
}

class FakeProvider final : public CryptoProvider {
public:
    std::unique_ptr<HashObject> createHash(DigestKind) override { return nullptr; }
    std::unique_ptr<UserKey> userKey(KeySpec) override { return nullptr; }
    std::unique_ptr<PublicKey> importPublicKey(const Certificate&) override { return nullptr; }
};

TEST(VerifyProviderSeam, FactoryReplacesAndEmptyFunctionRestores) {
    auto fake = std::make_shared<FakeProvider>();
    setVerifyProviderFactoryForTesting([fake] { return fake; });
    EXPECT_EQ(acquireVerifyProvider(), fake);

    setVerifyProviderFactoryForTesting({});
    auto software = acquireVerifyProvider();
    ASSERT_NE(software, nullptr);
    EXPECT_NE(software, fake);
    EXPECT_NE(software->createHash(DigestKind::Sha256), nullptr);
}

}  // namespace
}  // namespace tessal::platform
