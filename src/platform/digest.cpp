#include "platform/digest.h"

#include <openssl/evp.h>

#include "platform/crypto_provider.h"
#include "platform/evp_digest.h"
#include "platform/last_error.h"

namespace tessal::platform {

namespace {

// The implementation of a digest, fetched from the providers once per
// process: a digest named through EVP_sha256() and its kin is looked up
// again at every initialisation. Where the fetch finds nothing, the named
// digest still stands in, as before.
const EVP_MD* fetchedOrNamed(const char* name, const EVP_MD* named) {
    const EVP_MD* fetched = EVP_MD_fetch(nullptr, name, nullptr);
    return fetched != nullptr ? fetched : named;
}

}  // namespace

const EVP_MD* evpDigestOf(DigestKind kind) {
    // Kept for the life of the process; every thread may use them at once.
    static const EVP_MD* const sha1 = fetchedOrNamed("SHA1", EVP_sha1());
    static const EVP_MD* const sha256 = fetchedOrNamed("SHA2-256", EVP_sha256());
    static const EVP_MD* const sha384 = fetchedOrNamed("SHA2-384", EVP_sha384());
    static const EVP_MD* const sha512 = fetchedOrNamed("SHA2-512", EVP_sha512());
    switch (kind) {
        case DigestKind::Sha1: return sha1;
        case DigestKind::Sha256: return sha256;
        case DigestKind::Sha384: return sha384;
        case DigestKind::Sha512: return sha512;
    }
    return nullptr;
}

struct DigestStream::Context {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(ctx); }
};

std::size_t digestSize(DigestKind kind) {
    switch (kind) {
        case DigestKind::Sha1: return 20;
        case DigestKind::Sha256: return 32;
        case DigestKind::Sha384: return 48;
        case DigestKind::Sha512: return 64;
    }
    return 0;
}

std::optional<std::vector<std::uint8_t>> computeDigest(DigestKind kind, const std::uint8_t* data, std::size_t size) {
    DigestStream stream(kind);
    if (!stream.update(data, size)) return std::nullopt;
    return stream.finish();
}

DigestStream::DigestStream(DigestKind kind) : kind_(kind), context_(std::make_unique<Context>()) { reset(); }

DigestStream::~DigestStream() = default;
DigestStream::DigestStream(DigestStream&& other) noexcept
    : kind_(other.kind_), context_(std::move(other.context_)), ready_(other.ready_) {
    other.ready_ = false;  // the moved-from stream has no context left
}

DigestStream& DigestStream::operator=(DigestStream&& other) noexcept {
    if (this != &other) {
        kind_ = other.kind_;
        context_ = std::move(other.context_);
        ready_ = other.ready_;
        other.ready_ = false;
    }
    return *this;
}

bool DigestStream::ok() const { return ready_; }

bool DigestStream::reset() {
    ready_ = context_ && context_->ctx != nullptr && EVP_DigestInit_ex(context_->ctx, evpDigestOf(kind_), nullptr) == 1;
    if (!ready_) setLastError(kNteFail);
    return ready_;
}

bool DigestStream::update(const std::uint8_t* data, std::size_t size) {
    if (!ready_) {
        setLastError(kNteFail);
        return false;
    }
    if (size == 0) return true;
    if (data == nullptr || EVP_DigestUpdate(context_->ctx, data, size) != 1) {
        ready_ = false;
        setLastError(kNteFail);
        return false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> DigestStream::finish() {
    if (!ready_) {
        setLastError(kNteFail);
        return std::nullopt;
    }
    ready_ = false;
    std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->ctx, out.data(), &length) != 1) {
        setLastError(kNteFail);
        return std::nullopt;
    }
    out.resize(length);
    return out;
}

}  // namespace tessal::platform
