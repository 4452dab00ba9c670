#pragma once
// SHA-1 and SHA-2 digests of byte blocks: one-shot, and incremental for the
// hashing that precedes a signature.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tessal::platform {

enum class DigestKind { Sha1, Sha256, Sha384, Sha512 };

// Digest length in bytes (20, 32, 48, 64).
std::size_t digestSize(DigestKind kind);

// The digest of `size` bytes (an empty block included), or nothing when the
// library fails; the thread's last error is then NTE_FAIL.
std::optional<std::vector<std::uint8_t>> computeDigest(DigestKind kind, const std::uint8_t* data, std::size_t size);

// One hash in progress. Created ready for data; `finish` ends it, after which
// only `reset` makes it usable again.
class DigestStream {
public:
    explicit DigestStream(DigestKind kind);
    ~DigestStream();
    DigestStream(DigestStream&&) noexcept;
    DigestStream& operator=(DigestStream&&) noexcept;
    DigestStream(const DigestStream&) = delete;
    DigestStream& operator=(const DigestStream&) = delete;

    // False when the library could not set up the hash.
    bool ok() const;
    DigestKind kind() const { return kind_; }
    std::size_t size() const { return digestSize(kind_); }

    bool update(const std::uint8_t* data, std::size_t size);
    // The digest of everything fed since creation or the last reset.
    std::optional<std::vector<std::uint8_t>> finish();
    // Starts a fresh hash of the same kind.
    bool reset();

private:
    struct Context;
    DigestKind kind_;
    std::unique_ptr<Context> context_;
    bool ready_ = false;
};

}  // namespace tessal::platform
