#include "diagnostics/os_error_text.h"

#include <cstdio>

#include "diagnostics/utf8_text.h"
#include "platform/system_messages.h"

namespace tessal::diag {

std::u16string osErrorText(std::uint32_t code) {
    if (code == 0) return {};
    char number[16];
    std::snprintf(number, sizeof number, code > 16000 ? "%X" : "%u", code);
    const std::u16string digits = utf16Of(number);
    try {
        if (const auto text = platform::systemMessageText(code)) {
            return u"Operacinės sistemos grąžinta" + std::u16string(u" klaida (") + digits + u"): " + utf16Of(*text);
        }
    } catch (...) {
        // Fall back to the form without a system text.
    }
    return u"Operacinės sistemos grąžinta" + std::u16string(u"s klaidos kodas - ") + digits;
}

}  // namespace tessal::diag
