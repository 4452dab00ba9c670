#include "platform/system_messages.h"

#include <cstring>
#include <string>

namespace tessal::platform {

std::optional<std::string> systemMessageText(std::uint32_t code) {
    if (code >= 1 && code < 4096) {
        char buf[256];
        const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);
        if (text && std::strncmp(text, "Unknown error", 13) != 0) return std::string(text) + ".\r\n";
    }
    return std::nullopt;
}

}  // namespace tessal::platform
