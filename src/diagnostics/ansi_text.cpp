#include "diagnostics/ansi_text.h"

#include "diagnostics/utf8_text.h"
#include "platform/codeset.h"

namespace tessal::diag {

std::string toAnsi(std::u16string_view text) {
    const std::u16string_view untilNul = text.substr(0, text.find(u'\0'));
    if (platform::narrowCodesetIsUtf8()) return utf8Encode(untilNul);
    if (auto narrow = platform::utf16ToNarrow(untilNul)) return *narrow;
    return utf8Encode(untilNul);
}

std::u16string fromAnsi(std::string_view text) {
    const std::string_view untilNul = text.substr(0, text.find('\0'));
    if (platform::narrowCodesetIsUtf8()) return utf16Of(untilNul);
    if (auto wide = platform::narrowToUtf16(untilNul)) return *wide;
    return utf16Of(untilNul);
}

}  // namespace tessal::diag
