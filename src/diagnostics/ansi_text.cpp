#include "diagnostics/ansi_text.h"

#include "diagnostics/utf8_text.h"
#include "platform/codeset.h"

namespace tessal::diag {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kReplacement = 0xFFFD;

std::string_view untilNul(std::string_view text) { return text.substr(0, text.find('\0')); }
std::u16string_view untilNul(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

// Length of the well-formed UTF-8 sequence at `i` (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when there is none.
std::size_t sequenceLength(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = at(i);
    if (b < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) length = 2;
    else if (b == 0xE0) length = 3, low = 0xA0;
    else if (b == 0xED) length = 3, high = 0x9F;
    else if (b >= 0xE1 && b <= 0xEF) length = 3;
    else if (b == 0xF0) length = 4, low = 0x90;
    else if (b == 0xF4) length = 4, high = 0x8F;
    else if (b >= 0xF1 && b <= 0xF3) length = 4;
    else return 0;
    if (i + length > s.size()) return 0;
    if (at(i + 1) < low || at(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    }
    return length;
}

// Strict UTF-8 to UTF-16; each byte outside a valid sequence becomes
// `invalid(byte)`.
template <typename Invalid>
std::u16string decodeStrict(std::string_view s, Invalid invalid) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t length = sequenceLength(s, i);
        if (length == 0) {
            out.push_back(invalid(static_cast<unsigned char>(s[i])));
            ++i;
            continue;
        }
        const unsigned char lead = static_cast<unsigned char>(s[i]);
        char32_t cp = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

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
    return decodeStrict(untilNul(name), [](unsigned char b) { return static_cast<char16_t>(kEscapeBase + b); });
}

std::string toAnsiName(std::u16string_view name) {
    name = untilNul(name);
    if (!platform::narrowCodesetIsUtf8()) return toAnsi(name);
    std::string out;
    out.reserve(name.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t u = name[i];
        const bool escaped = u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF &&
                             !(i > 0 && name[i - 1] >= 0xD800 && name[i - 1] <= 0xDBFF);
        if (!escaped) continue;
        out += utf8Encode(name.substr(start, i - start));
        out.push_back(static_cast<char>(u - kEscapeBase));
        start = i + 1;
    }
    out += utf8Encode(name.substr(start));
    return out;
}

std::u16string fromAnsiWhole(std::string_view bytes) {
    if (platform::narrowCodesetIsUtf8()) return decodeStrict(bytes, [](unsigned char) { return kReplacement; });
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
