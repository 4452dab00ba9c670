#pragma once
// The framed channel to the browser: each message is a 4-byte length in the
// machine's byte order and that many bytes of UTF-8 JSON. Messages whose
// text is longer than kChunkThreshold travel as a run of chunk messages.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace tessal::host {

// The most a message may hold in all, whether in one frame or in chunks.
inline constexpr std::size_t kMaxMessageBytes = 64u << 20;
// A message text longer than this is sent as chunks of at most this size.
inline constexpr std::size_t kChunkThreshold = 512u << 10;
// Deepest nesting of arrays and objects a message may have.
inline constexpr int kMaxJsonDepth = 16;

// Why reading stopped: the peer closed the channel between messages, or it
// sent something that is not a valid message (the host then ends).
enum class ReadEnd { Closed, Malformed };

// What became of a message written: sent, refused for its size before any
// of it went out, or lost with the channel.
enum class WriteEnd { Sent, TooLong, Gone };

class Channel {
public:
    // Takes over the two descriptors (already private to this process).
    Channel(int inFd, int outFd) : in_(inFd), out_(outFd) {}
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // The next whole message, chunks reassembled; on failure `end` says why.
    std::optional<nlohmann::json> read(ReadEnd& end);
    // Writes one message, as chunks when long. Safe from any thread.
    WriteEnd write(const nlohmann::json& message);

private:
    std::optional<std::string> readFrame(ReadEnd& end);
    bool writeFrame(const std::string& text);

    int in_;
    int out_;
    std::mutex writeLock_;
    std::uint64_t nextLongMessage_ = 1;
};

// Moves standard input and output to private close-on-exec descriptors and
// points 0 at /dev/null and 1 at standard error, so that nothing printed by
// the component or a child program reaches the channel and no child inherits
// it. Answers the channel descriptors, or nothing when they cannot be set up.
std::optional<std::pair<int, int>> takePrivateChannel();

// Whether arrays and objects in `text` nest no deeper than `maxDepth`;
// brackets inside strings do not count.
bool nestingWithin(std::string_view text, int maxDepth);

// UTF-16 text as UTF-8 for a JSON string: NUL units are kept and a lone
// surrogate becomes U+FFFD, so the output is always valid UTF-8.
std::string utf8ForJson(std::u16string_view text);

}  // namespace tessal::host
