#include "crypto/crypto_context.h"

#include "diagnostics/message_catalogue.h"
#include "pki/certificate_store.h"
#include "platform/last_error.h"

namespace tessal::crypto {

namespace {

constexpr int kCopyHashPlace = 2;
constexpr int kCreateHashPlace = 3;
constexpr int kHashDataPlace = 4;
constexpr int kImportFetchPlace = 6;
constexpr int kImportKeyPlace = 7;
constexpr int kImportUrlFetchPlace = 505;
constexpr int kImportUrlKeyPlace = 506;

constexpr int kCreateHashMessage = 1;
constexpr int kHashDataMessage = 2;
constexpr int kProviderMessage = 29;
constexpr int kImportKeyMessage = 32;
constexpr int kCertificateMissingMessage = 71;

}  // namespace

CryptoContext::CryptoContext() = default;

CryptoContext::CryptoContext(const CryptoContext& other) : certificates(other.certificates) {
    // A copy holds its own reference on the same provider binding.
    provider_ = other.provider_;
    if (other.hash_) {
        hash_ = other.hash_->duplicate();
        if (!hash_) diag::recordError(error(), kCopyHashPlace, kCreateHashMessage, {diag::kCategoryCrypto});
    }
}

CryptoContext::~CryptoContext() = default;

bool CryptoContext::hashData(const std::uint8_t* data, std::size_t size, AlgId algId) {
    if (algId == 0) algId = CALG_SHA1;
    if (!hash_) {
        const std::optional<platform::DigestKind> kind = digestKindOf(algId);
        if (!kind) platform::setLastError(platform::kNteBadAlgorithm);
        if (kind && provider_) {
            hash_ = provider_->createHash(*kind);
        } else if (kind) {
            platform::setLastError(0x80090001u);  // NTE_BAD_UID: no provider to hash with
        }
        if (!hash_) {
            diag::recordError(error(), kCreateHashPlace, kCreateHashMessage, {diag::kCategoryCrypto});
            return false;
        }
    }
    if (!hash_->update(data, size)) {
        diag::recordError(error(), kHashDataPlace, kHashDataMessage, {diag::kCategoryCrypto});
        destroyHash();
        return false;
    }
    return true;
}

void CryptoContext::destroyHash() { hash_.reset(); }

void CryptoContext::releaseProvider() {
    destroyHash();
    provider_.reset();
}

bool CryptoContext::acquireVerifyProvider(int place) {
    provider_ = platform::acquireVerifyProvider();
    if (!provider_) {
        diag::recordError(error(), place, kProviderMessage, {diag::kCategoryCrypto});
        return false;
    }
    return true;
}

bool CryptoContext::importSubjectKey(int place) {
    publicKey_.reset();
    if (provider_) {
        publicKey_ = provider_->importPublicKey(certificates.subject.certificate());
    } else {
        platform::setLastError(0x80090001u);
    }
    if (!publicKey_) {
        diag::recordError(error(), place, kImportKeyMessage, {diag::kCategoryCrypto});
        return false;
    }
    return true;
}

bool CryptoContext::importPublicKey(pki::PkiQueryKind kind, std::string_view key) {
    if (!pki::findCertificate(certificates.subject, *certificates.certificateClient, kind, key)) {
        error().merge(certificates.subject.error());
        diag::recordErrorCode(error(), 0, kImportFetchPlace, kCertificateMissingMessage, {key});
        return false;
    }
    return importSubjectKey(kImportKeyPlace);
}

bool CryptoContext::importPublicKeyFromUrl(std::string_view url) {
    if (!pki::findCertificateByUrl(url, certificates.subject, *certificates.certificateClient)) {
        error().merge(certificates.subject.error());
        diag::recordErrorCode(error(), 0, kImportUrlFetchPlace, kCertificateMissingMessage, {url});
        return false;
    }
    return importSubjectKey(kImportUrlKeyPlace);
}

}  // namespace tessal::crypto
