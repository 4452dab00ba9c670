#include "platform/last_error.h"

#include <cerrno>

namespace tessal::platform {

namespace {
thread_local std::uint32_t threadLastError = 0;
}

std::uint32_t lastError() { return threadLastError; }
void setLastError(std::uint32_t code) { threadLastError = code; }
std::uint32_t captureErrno() {
    threadLastError = static_cast<std::uint32_t>(errno);
    return threadLastError;
}

}  // namespace tessal::platform
