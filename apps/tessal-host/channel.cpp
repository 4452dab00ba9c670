#include "channel.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "data/codecs.h"

namespace tessal::host {

namespace {

bool readExactly(int fd, char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<nlohmann::json> parseMessage(const std::string& text) {
    if (!nestingWithin(text, kMaxJsonDepth)) return std::nullopt;
    nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object()) return std::nullopt;
    return message;
}

bool isChunk(const nlohmann::json& message) {
    const auto type = message.find("type");
    return type != message.end() && *type == "chunk";
}

// A chunk's fields, checked for form; nothing when any is missing or wrong.
struct Chunk {
    std::uint64_t message = 0;
    std::uint64_t index = 0;
    std::uint64_t count = 0;
    std::string data;
};

std::optional<Chunk> chunkOf(const nlohmann::json& message) {
    const auto number = [&](const char* name) -> std::optional<std::uint64_t> {
        const auto it = message.find(name);
        if (it == message.end() || !it->is_number_unsigned()) return std::nullopt;
        return it->get<std::uint64_t>();
    };
    const auto id = number("message");
    const auto index = number("index");
    const auto count = number("count");
    const auto data = message.find("data");
    if (!id || !index || !count || data == message.end() || !data->is_string()) return std::nullopt;
    if (*count == 0 || *index >= *count || *count > kMaxMessageBytes / kChunkThreshold + 1) return std::nullopt;
    return Chunk{*id, *index, *count, data->get<std::string>()};
}

}  // namespace

std::optional<std::string> Channel::readFrame(ReadEnd& end) {
    std::uint32_t length = 0;
    std::size_t got = 0;
    if (!readExactly(in_, reinterpret_cast<char*>(&length), sizeof length, got)) {
        end = got == 0 ? ReadEnd::Closed : ReadEnd::Malformed;
        return std::nullopt;
    }
    end = ReadEnd::Malformed;
    if (length == 0 || length > kMaxMessageBytes) return std::nullopt;
    std::string text(length, '\0');
    if (!readExactly(in_, text.data(), text.size(), got)) return std::nullopt;
    return text;
}

std::optional<nlohmann::json> Channel::read(ReadEnd& end) {
    std::optional<std::string> frame = readFrame(end);
    if (!frame) return std::nullopt;
    end = ReadEnd::Malformed;
    std::optional<nlohmann::json> message = parseMessage(*frame);
    if (!message || !isChunk(*message)) return message;

    // A long message: its chunks must follow each other in index order,
    // with nothing else between them, and stay within the total bound.
    std::string whole;
    std::optional<Chunk> first = chunkOf(*message);
    if (!first || first->index != 0) return std::nullopt;
    Chunk chunk = std::move(*first);
    for (std::uint64_t expected = 0;;) {
        data::Bytes part;
        if (!chunk.data.empty() && !data::base64Decode(chunk.data, part)) return std::nullopt;
        if (part.size() > kChunkThreshold || whole.size() + part.size() > kMaxMessageBytes) return std::nullopt;
        whole.append(part.begin(), part.end());
        if (++expected == chunk.count) break;
        const std::uint64_t id = chunk.message;
        const std::uint64_t count = chunk.count;
        frame = readFrame(end);
        end = ReadEnd::Malformed;
        if (!frame) return std::nullopt;
        message = parseMessage(*frame);
        if (!message || !isChunk(*message)) return std::nullopt;
        std::optional<Chunk> next = chunkOf(*message);
        if (!next || next->message != id || next->count != count || next->index != expected) return std::nullopt;
        chunk = std::move(*next);
    }
    message = parseMessage(whole);
    // A chunk inside a chunk would let the nesting grow without bound.
    if (!message || isChunk(*message)) return std::nullopt;
    return message;
}

bool Channel::writeFrame(const std::string& text) {
    const std::uint32_t length = static_cast<std::uint32_t>(text.size());
    return writeAll(out_, reinterpret_cast<const char*>(&length), sizeof length) &&
           writeAll(out_, text.data(), text.size());
}

WriteEnd Channel::write(const nlohmann::json& message) {
    const std::string text = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text.size() > kMaxMessageBytes) return WriteEnd::TooLong;
    std::lock_guard<std::mutex> lock(writeLock_);
    if (text.size() <= kChunkThreshold) return writeFrame(text) ? WriteEnd::Sent : WriteEnd::Gone;
    const std::uint64_t id = nextLongMessage_++;
    const std::size_t count = (text.size() + kChunkThreshold - 1) / kChunkThreshold;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t offset = i * kChunkThreshold;
        std::string data;
        data::base64Encode(reinterpret_cast<const std::uint8_t*>(text.data()) + offset,
                           std::min(kChunkThreshold, text.size() - offset), data);
        const nlohmann::json chunk = {{"type", "chunk"}, {"message", id}, {"index", i}, {"count", count}, {"data", data}};
        if (!writeFrame(chunk.dump())) return WriteEnd::Gone;
    }
    return WriteEnd::Sent;
}

std::optional<std::pair<int, int>> takePrivateChannel() {
    const int in = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    const int out = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (in < 0 || out < 0) return std::nullopt;
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(2, 1) < 0) return std::nullopt;
    ::close(devNull);
    return std::make_pair(in, out);
}

bool nestingWithin(std::string_view text, int maxDepth) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

std::string utf8ForJson(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace tessal::host
