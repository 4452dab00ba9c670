#include "platform/system_messages.h"

#include <locale.h>
#include <string.h>

#include <string>

#include "platform/messages/message_tables.h"

namespace tessal::platform {

namespace {

constexpr std::uint32_t kNoToken = 1008;
// Each derived code space is a window of this size above its base.
constexpr std::uint32_t kSpaceWidth = 0x10000u;

std::string sentence(const char* text) { return std::string(text) + "\r\n"; }

// errno texts as the C locale words them, whatever the process locale is.
std::optional<std::string> errnoText(std::uint32_t code) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (!cLocale) return std::nullopt;
    const char* text = strerror_l(static_cast<int>(code), cLocale);
    if (!text || strncmp(text, "Unknown error", 13) == 0) return std::nullopt;
    return std::string(text) + ".\r\n";
}

bool inSpace(std::uint32_t code, std::uint32_t base) { return code >= base && code - base < kSpaceWidth; }

}  // namespace

std::optional<std::string> systemMessageText(std::uint32_t code) {
    const char* text = nullptr;
    if (code == kNoToken) {
        text = "An attempt was made to reference a token that does not exist.";
    } else if (code >= 1 && code < 4096) {
        return errnoText(code);
    } else if (code >= 12001 && code <= 12175) {
        text = messages::internetText(code);
    } else if ((code & 0xFFFF0000u) == 0x80100000u) {
        text = messages::smartCardText(code);
    } else if ((code & 0xFFFF0000u) == 0x80090000u || (code & 0xFFFF0000u) == 0x800B0000u) {
        text = messages::cryptoText(code);
    } else if (inSpace(code, kPkcs11CodeBase)) {
        text = messages::pkcs11Text(code - kPkcs11CodeBase);
    } else if (inSpace(code, kCurlCodeBase)) {
        text = messages::curlText(code - kCurlCodeBase);
    } else if (inSpace(code, kHttpStatusBase)) {
        const std::uint32_t status = code - kHttpStatusBase;
        if (const char* phrase = messages::httpReasonPhrase(status)) {
            return "The server answered with HTTP status " + std::to_string(status) + " (" + phrase + ").\r\n";
        }
    }
    if (!text) return std::nullopt;
    return sentence(text);
}

}  // namespace tessal::platform
