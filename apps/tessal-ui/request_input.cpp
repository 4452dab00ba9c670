#include "request_input.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace tessal::ui {

namespace {

// Exactly `length` bytes, or nothing when the stream ends or fails first.
std::optional<std::string> readExactly(int fd, std::size_t length) {
    std::string out(length, '\0');
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(fd, out.data() + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    return out;
}

}  // namespace

std::optional<display::WindowRequest> readRequest(int fd) {
    const std::optional<std::string> header = readExactly(fd, display::kRequestHeaderBytes);
    if (!header) return std::nullopt;
    const std::optional<std::size_t> length = display::requestBodyLength(*header);
    if (!length) return std::nullopt;
    const std::optional<std::string> body = readExactly(fd, *length);
    if (!body) return std::nullopt;
    return display::decodeRequestBody(*body);
}

}  // namespace tessal::ui
