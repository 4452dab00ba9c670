#include "platform/crypto_provider.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/evp_digest.h"
#include "platform/public_key_cache.h"
#include "platform/last_error.h"
#include "platform/software_hash.h"
#include "platform/trap_released_lock.h"

namespace tessal::platform {

HashObject::~HashObject() = default;
PublicKey::~PublicKey() = default;
UserKey::~UserKey() = default;
RsaPrivateOperation::~RsaPrivateOperation() = default;

std::shared_ptr<RsaPrivateOperation> UserKey::privateOperation() {
    setLastError(kNteBadAlgorithm);
    return nullptr;
}
CryptoProvider::~CryptoProvider() = default;

namespace {

// Records `code` and drops whatever libcrypto queued for the failure, so a
// later, unrelated call does not find a stale error.
void fail(std::uint32_t code) {
    ERR_clear_error();
    setLastError(code);
}


struct MdContext {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    MdContext() = default;
    MdContext(const MdContext&) = delete;
    MdContext& operator=(const MdContext&) = delete;
    ~MdContext() { EVP_MD_CTX_free(ctx); }
};

class SoftwareHash final : public HashObject {
public:
    explicit SoftwareHash(DigestKind kind) : kind_(kind) {}

    // False when libcrypto cannot set up the digest.
    bool start() {
        const EVP_MD* md = evpDigestOf(kind_);
        return md && context_.ctx && EVP_DigestInit_ex(context_.ctx, md, nullptr) == 1;
    }

    DigestKind kind() const override { return kind_; }

    bool update(const std::uint8_t* data, std::size_t size) override {
        if (size == 0) return true;
        if (!data || EVP_DigestUpdate(context_.ctx, data, size) != 1) {
            fail(kNteFail);
            return false;
        }
        return true;
    }

    std::unique_ptr<HashObject> duplicate() const override {
        auto copy = std::make_unique<SoftwareHash>(kind_);
        if (!copy->context_.ctx || EVP_MD_CTX_copy_ex(copy->context_.ctx, context_.ctx) != 1) {
            fail(kNteFail);
            return nullptr;
        }
        return copy;
    }

    std::optional<ByteBlock> value() const override {
        // Finishing a copy leaves this hash open for more data and later values.
        MdContext copy;
        ByteBlock out(EVP_MAX_MD_SIZE);
        unsigned int length = 0;
        if (!copy.ctx || EVP_MD_CTX_copy_ex(copy.ctx, context_.ctx) != 1 ||
            EVP_DigestFinal_ex(copy.ctx, out.data(), &length) != 1) {
            fail(kNteFail);
            return std::nullopt;
        }
        out.resize(length);
        return out;
    }

private:
    DigestKind kind_;
    MdContext context_;
};

class RsaPublicKey final : public PublicKey {
public:
    explicit RsaPublicKey(EVP_PKEY* key) : key_(key) {}
    ~RsaPublicKey() override { EVP_PKEY_free(key_); }
    RsaPublicKey(const RsaPublicKey&) = delete;
    RsaPublicKey& operator=(const RsaPublicKey&) = delete;

    bool verify(const HashObject& hash, const std::uint8_t* signature, std::size_t size) const override {
        // A PKCS#1 v1.5 signature is exactly as long as the modulus.
        const int modulusSize = EVP_PKEY_get_size(key_);
        if (!signature || modulusSize <= 0 || size != static_cast<std::size_t>(modulusSize)) {
            fail(kNteBadSignature);
            return false;
        }
        const auto digest = hash.value();
        if (!digest) return false;  // the hash has set the last error
        const EVP_MD* md = evpDigestOf(hash.kind());
        if (!md) {
            fail(kNteBadAlgorithm);
            return false;
        }
        // The caller's bytes are least significant first; libcrypto reads the
        // signature as a big-endian integer.
        ByteBlock bigEndian(signature, signature + size);
        std::reverse(bigEndian.begin(), bigEndian.end());

        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key_, nullptr);
        const bool setUp = ctx && EVP_PKEY_verify_init(ctx) == 1 &&
                           EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
                           EVP_PKEY_CTX_set_signature_md(ctx, md) == 1;
        // The DigestInfo around the value is built and compared by libcrypto
        // from the signature digest set above.
        const int result =
            setUp ? EVP_PKEY_verify(ctx, bigEndian.data(), bigEndian.size(), digest->data(), digest->size()) : -1;
        EVP_PKEY_CTX_free(ctx);
        if (result == 1) return true;
        fail(setUp ? kNteBadSignature : kNteFail);
        return false;
    }

private:
    EVP_PKEY* key_;
};

}  // namespace

std::unique_ptr<HashObject> createSoftwareHash(DigestKind kind) {
    if (!evpDigestOf(kind)) {
        fail(kNteBadAlgorithm);
        return nullptr;
    }
    auto hash = std::make_unique<SoftwareHash>(kind);
    if (!hash->start()) {
        fail(kNteFail);
        return nullptr;
    }
    return hash;
}

namespace {

class SoftwareProvider final : public CryptoProvider {
public:
    std::unique_ptr<HashObject> createHash(DigestKind kind) override { return createSoftwareHash(kind); }

    // A verify-only context has no container, so no key pair under any spec.
    std::unique_ptr<UserKey> userKey(KeySpec) override {
        setLastError(kNteNoKey);
        return nullptr;
    }

    // An empty or undecodable certificate answers NTE_BAD_KEY; a decodable
    // key of another algorithm than RSA answers NTE_BAD_PUBLIC_KEY.
    std::unique_ptr<PublicKey> importPublicKey(const Certificate& certificate) override {
        EVP_PKEY* key = publicKeyOfCertificate(certificate.der());  // a reference of our own
        if (!key) {
            fail(kNteBadKey);
            return nullptr;
        }
        // RSA-PSS keys are excluded too: they cannot verify PKCS#1 v1.5 signatures.
        if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
            EVP_PKEY_free(key);
            fail(kNteBadPublicKey);
            return nullptr;
        }
        return std::make_unique<RsaPublicKey>(key);
    }
};

TrapReleasedMutex factoryMutex;
std::function<std::shared_ptr<CryptoProvider>()> factoryOverride;

}  // namespace

std::shared_ptr<CryptoProvider> acquireVerifyProvider() {
    std::function<std::shared_ptr<CryptoProvider>()> factory;
    {
        std::lock_guard lock(factoryMutex);
        factory = factoryOverride;
    }
    // Called outside the lock: the factory is a test's code and may replace the seam.
    if (factory) return factory();
    if (OPENSSL_init_crypto(0, nullptr) != 1) {
        fail(kNteFail);
        return nullptr;
    }
    return std::make_shared<SoftwareProvider>();
}

void setVerifyProviderFactoryForTesting(std::function<std::shared_ptr<CryptoProvider>()> factory) {
    std::lock_guard lock(factoryMutex);
    factoryOverride = std::move(factory);
}

}  // namespace tessal::platform
