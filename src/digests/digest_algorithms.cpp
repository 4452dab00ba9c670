#include "digests/digest_algorithms.h"

#include <array>

#include "platform/digest.h"

namespace tessal::crypto {

namespace {

constexpr std::array<DigestAlgorithm, 4> kAlgorithms{{
    {CALG_SHA1, "http://www.w3.org/2000/09/xmldsig#sha1", "http://www.w3.org/2000/09/xmldsig#rsa-sha1", 20},
    {CALG_SHA_256, "http://www.w3.org/2001/04/xmlenc#sha256", "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256", 32},
    {CALG_SHA_384, "http://www.w3.org/2001/04/xmldsig-more#sha384", "http://www.w3.org/2001/04/xmldsig-more#rsa-sha384", 48},
    {CALG_SHA_512, "http://www.w3.org/2001/04/xmlenc#sha512", "http://www.w3.org/2001/04/xmldsig-more#rsa-sha512", 64},
}};

}  // namespace

std::span<const DigestAlgorithm> digestAlgorithms() { return kAlgorithms; }

std::optional<platform::DigestKind> digestKindOf(AlgId algId) {
    switch (algId == 0 ? CALG_SHA1 : algId) {
        case CALG_SHA1: return platform::DigestKind::Sha1;
        case CALG_SHA_256: return platform::DigestKind::Sha256;
        case CALG_SHA_384: return platform::DigestKind::Sha384;
        case CALG_SHA_512: return platform::DigestKind::Sha512;
        default: return std::nullopt;
    }
}


const DigestAlgorithm* digestAlgorithmOf(AlgId algId) {
    if (algId == 0) algId = CALG_SHA1;
    for (const auto& a : kAlgorithms)
        if (a.algId == algId) return &a;
    return nullptr;
}

const DigestAlgorithm* digestAlgorithmByDigestUri(std::string_view uri) {
    for (const auto& a : kAlgorithms)
        if (a.digestMethodUri == uri) return &a;
    return nullptr;
}

const DigestAlgorithm* digestAlgorithmBySignatureUri(std::string_view uri) {
    for (const auto& a : kAlgorithms)
        if (a.signatureMethodUri == uri) return &a;
    return nullptr;
}

std::optional<AlgId> algIdOfDigestUri(std::string_view uri) {
    const auto* a = digestAlgorithmByDigestUri(uri);
    return a ? std::optional<AlgId>(a->algId) : std::nullopt;
}

std::optional<AlgId> algIdOfSignatureUri(std::string_view uri) {
    const auto* a = digestAlgorithmBySignatureUri(uri);
    return a ? std::optional<AlgId>(a->algId) : std::nullopt;
}

std::optional<data::Bytes> digestOf(const std::uint8_t* data, std::size_t size, AlgId algId) {
    if (data == nullptr || size == 0) return std::nullopt;
    const auto kind = digestKindOf(algId);
    if (!kind) return std::nullopt;
    return platform::computeDigest(*kind, data, size);
}

bool digestBase64(const std::uint8_t* data, std::size_t size, std::string& out, AlgId algId) {
    out.clear();
    const auto digest = digestOf(data, size, algId);
    return digest && data::base64Encode(*digest, out);
}

bool digestHex(const std::uint8_t* data, std::size_t size, std::string& out, AlgId algId) {
    out.clear();
    const auto digest = digestOf(data, size, algId);
    return digest && data::hexEncode(*digest, out);
}

DigestFeed::DigestFeed(AlgId algId) {
    if (const auto kind = digestKindOf(algId)) stream_.emplace(*kind);
}

void DigestFeed::add(const std::uint8_t* data, std::size_t size) {
    if (!stream_ || size == 0) return;
    fed_ += size;
    stream_->update(data, size);  // a failure leaves the stream unusable, and finish says so
}

std::function<bool(const std::uint8_t*, std::size_t)> DigestFeed::receiver() {
    return [this](const std::uint8_t* data, std::size_t size) {
        add(data, size);
        return true;
    };
}

std::optional<data::Bytes> DigestFeed::finish() {
    if (!stream_ || fed_ == 0) return std::nullopt;
    return stream_->finish();
}

}  // namespace tessal::crypto
