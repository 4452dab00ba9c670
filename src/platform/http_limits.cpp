#include "platform/http_limits.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "platform/config.h"

namespace tessal::platform {

namespace {

std::uint32_t positiveValue(std::string_view name, std::uint32_t fallback) {
    const std::optional<std::string> text = configValue(kPlatformSection, name);
    if (!text) return fallback;
    std::uint32_t value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, ec] = std::from_chars(text->data(), end, value);
    if (ec != std::errc() || stop != end || value == 0) return fallback;
    return value;
}

}  // namespace

HttpLimits configuredHttpLimits() {
    HttpLimits limits;
    limits.deadlineMs = positiveValue("httpDeadlineMs", kDefaultHttpDeadlineMs);
    limits.maxAnswerBytes = positiveValue("httpMaxAnswerBytes", kDefaultHttpMaxAnswerBytes);
    return limits;
}

}  // namespace tessal::platform
