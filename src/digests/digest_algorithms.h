#pragma once
// The digest algorithms of the system, named by their CryptoAPI algorithm
// identifiers, with the XML-Signature URIs written into and read from
// signatures, and the stateless digest of a byte block.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "data/codecs.h"
#include "platform/digest.h"

namespace tessal::crypto {

using AlgId = std::uint32_t;

// Wherever an AlgId is taken, 0 stands for CALG_SHA1.
inline constexpr AlgId CALG_SHA1 = 0x8004;
inline constexpr AlgId CALG_SHA_256 = 0x800C;
inline constexpr AlgId CALG_SHA_384 = 0x800D;
inline constexpr AlgId CALG_SHA_512 = 0x800E;

struct DigestAlgorithm {
    AlgId algId;
    std::string_view digestMethodUri;
    std::string_view signatureMethodUri;
    std::size_t digestLength;
};

// The four algorithms, SHA-1 first.
std::span<const DigestAlgorithm> digestAlgorithms();

// The entry of an AlgId (0 gives SHA-1), or null for an unknown one.
const DigestAlgorithm* digestAlgorithmOf(AlgId algId);
// The entry whose DigestMethod / SignatureMethod URI equals `uri` exactly.
const DigestAlgorithm* digestAlgorithmByDigestUri(std::string_view uri);
const DigestAlgorithm* digestAlgorithmBySignatureUri(std::string_view uri);

// The digest kind of an AlgId (0 is SHA-1); nothing for an unknown one.
std::optional<platform::DigestKind> digestKindOf(AlgId algId);

std::optional<AlgId> algIdOfDigestUri(std::string_view uri);
std::optional<AlgId> algIdOfSignatureUri(std::string_view uri);

// The digest of a non-empty block; nothing for no bytes, an unknown AlgId or
// a library failure. Records nothing: callers record their own failure.
std::optional<data::Bytes> digestOf(const std::uint8_t* data, std::size_t size, AlgId algId);

// digestOf followed by base64Encode / hexEncode. False (and "") when the
// digest fails.
bool digestBase64(const std::uint8_t* data, std::size_t size, std::string& out, AlgId algId = CALG_SHA1);
bool digestHex(const std::uint8_t* data, std::size_t size, std::string& out, AlgId algId = CALG_SHA1);

// The digest of octets fed piece by piece as they are produced, so that they
// are never held whole (canonical output streamed from a tree).
class DigestFeed {
public:
    explicit DigestFeed(AlgId algId);
    void add(const std::uint8_t* data, std::size_t size);
    // A receiver of octets that adds them here; it never refuses any.
    std::function<bool(const std::uint8_t*, std::size_t)> receiver();
    // What digestOf gives for all the octets fed together.
    std::optional<data::Bytes> finish();

private:
    std::optional<platform::DigestStream> stream_;
    std::size_t fed_ = 0;
};

}  // namespace tessal::crypto
