#include "diagnostics/ansi_text.h"

#include "diagnostics/utf8_text.h"
#include "platform/codeset.h"

namespace tessal::diag {

namespace {

std::string_view untilNul(std::string_view text) { return text.substr(0, text.find('\0')); }
std::u16string_view untilNul(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

}  // namespace

std::string toAnsi(std::u16string_view text) {
    text = untilNul(text);
    if (platform::narrowCodesetIsUtf8()) return utf8Encode(text);
    if (auto narrow = platform::utf16ToNarrow(text)) return *narrow;
    return utf8Encode(text);
}

std::u16string fromAnsi(std::string_view text) {
    text = untilNul(text);
    if (platform::narrowCodesetIsUtf8()) return utf16Of(text);
    if (auto wide = platform::narrowToUtf16(text)) return *wide;
    return utf16Of(text);
}

std::u16string fromAnsiName(std::string_view name) {
    if (!platform::narrowCodesetIsUtf8()) return fromAnsi(name);
    return utf8DecodeEach(untilNul(name), InvalidByte::Escape);
}

std::string toAnsiName(std::u16string_view name) {
    name = untilNul(name);
    if (!platform::narrowCodesetIsUtf8()) return toAnsi(name);
    return utf8EncodeEscaped(name);
}

std::u16string fromAnsiWhole(std::string_view bytes) {
    if (platform::narrowCodesetIsUtf8()) return utf8DecodeEach(bytes, InvalidByte::Replace);
    // The codeset's converter ends at a NUL: convert between them and keep them.
    std::u16string out;
    for (std::size_t start = 0;;) {
        const std::size_t nul = bytes.find('\0', start);
        const std::string_view piece = bytes.substr(start, nul == std::string_view::npos ? nul : nul - start);
        if (!piece.empty()) out += fromAnsi(piece);
        if (nul == std::string_view::npos) break;
        out.push_back(u'\0');
        start = nul + 1;
    }
    return out;
}

}  // namespace tessal::diag
