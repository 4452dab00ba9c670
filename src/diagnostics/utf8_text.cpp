#include "diagnostics/utf8_text.h"

namespace tessal::diag {

namespace {
bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
}  // namespace

std::string utf8Encode(std::u16string_view units) {
    std::string out;
    out.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u == 0) break;
        if (u <= 0x7F) {
            out.push_back(static_cast<char>(u));
        } else if (u <= 0x7FF) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else if (isHighSurrogate(u) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            ++i;
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

Utf8DecodeResult utf8Decode(std::string_view bytes, std::size_t capacity) {
    Utf8DecodeResult r;
    if (capacity == 0) return r;
    const auto byteAt = [&](std::size_t i) -> unsigned {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
    };
    std::size_t i = 0;
    // One unit of the capacity is always kept for the terminating NUL.
    while (r.units.size() + 1 < capacity) {
        const unsigned lead = byteAt(i);
        if (lead == 0) break;
        if (lead < 0x80) {
            r.units.push_back(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        if (lead < 0xC0) {
            r.ok = false;
            break;
        }
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        unsigned trail[3] = {0, 0, 0};
        bool truncated = false;
        for (std::size_t k = 1; k < length; ++k) {
            trail[k - 1] = byteAt(i + k);
            if (trail[k - 1] == 0) truncated = true;
        }
        if (truncated) break;  // a NUL inside a sequence ends the text
        i += length;
        if (length == 2) {
            r.units.push_back(static_cast<char16_t>(((lead & 0x1F) << 6) | (trail[0] & 0x3F)));
        } else if (length == 3) {
            r.units.push_back(static_cast<char16_t>(((lead & 0x0F) << 12) | ((trail[0] & 0x3F) << 6) | (trail[1] & 0x3F)));
        } else {
            const char32_t cp = ((lead & 0x07u) << 18) | ((trail[0] & 0x3Fu) << 12) | ((trail[1] & 0x3Fu) << 6) | (trail[2] & 0x3Fu);
            if (lead <= 0xF4 && cp >= 0x10000 && cp <= 0x10FFFF) {
                if (r.units.size() + 2 >= capacity) break;  // the pair does not fit
                r.units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                r.units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                // Not a valid code point: keep the low 16 bits, as the lead byte's
                // own bits never reach the unit.
                r.units.push_back(static_cast<char16_t>(((trail[0] & 0x0F) << 12) | ((trail[1] & 0x3F) << 6) | (trail[2] & 0x3F)));
            }
        }
    }
    return r;
}

std::u16string utf16Of(std::string_view utf8) { return utf8Decode(utf8, utf8.size() + 1).units; }

}  // namespace tessal::diag

namespace tessal::diag {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// Length of the well-formed UTF-8 sequence at `i`, or 0 when there is none.
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

}  // namespace

std::u16string utf8DecodeEach(std::string_view s, InvalidByte invalid) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t length = sequenceLength(s, i);
        const unsigned char lead = static_cast<unsigned char>(s[i]);
        if (length == 0) {
            out.push_back(invalid == InvalidByte::Escape ? static_cast<char16_t>(kEscapeBase + lead) : u'\uFFFD');
            ++i;
            continue;
        }
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

std::string utf8EncodeEscaped(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        const bool pairedLow = i > 0 && units[i - 1] >= 0xD800 && units[i - 1] <= 0xDBFF;
        if (u < kEscapeBase + 0x80 || u > kEscapeBase + 0xFF || pairedLow) continue;
        out += utf8Encode(units.substr(start, i - start));
        out.push_back(static_cast<char>(u - kEscapeBase));
        start = i + 1;
    }
    out += utf8Encode(units.substr(start));
    return out;
}

}  // namespace tessal::diag
