#include "data/codecs.h"

#include <array>

namespace tessal::data {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Code points of the Lithuanian letters of Windows-1257 above 0x7F; 0 where
// the byte keeps its ISO-8859-1 meaning.
constexpr std::array<char16_t, 128> makeBalticTable() {
    std::array<char16_t, 128> t{};
    t[0xC0 - 0x80] = 0x0104;  // Ą
    t[0xC1 - 0x80] = 0x012E;  // Į
    t[0xC6 - 0x80] = 0x0118;  // Ę
    t[0xC8 - 0x80] = 0x010C;  // Č
    t[0xCB - 0x80] = 0x0116;  // Ė
    t[0xD0 - 0x80] = 0x0160;  // Š
    t[0xD8 - 0x80] = 0x0172;  // Ų
    t[0xDB - 0x80] = 0x016A;  // Ū
    t[0xDE - 0x80] = 0x017D;  // Ž
    t[0xE0 - 0x80] = 0x0105;  // ą
    t[0xE1 - 0x80] = 0x012F;  // į
    t[0xE6 - 0x80] = 0x0119;  // ę
    t[0xE8 - 0x80] = 0x010D;  // č
    t[0xEB - 0x80] = 0x0117;  // ė
    t[0xF0 - 0x80] = 0x0161;  // š
    t[0xF8 - 0x80] = 0x0173;  // ų
    t[0xFB - 0x80] = 0x016B;  // ū
    t[0xFE - 0x80] = 0x017E;  // ž
    return t;
}
constexpr auto kBalticTable = makeBalticTable();

// Value of a Base64 character, or -1 for anything outside the alphabet.
constexpr std::array<std::int8_t, 256> makeBase64Values() {
    std::array<std::int8_t, 256> v{};
    for (auto& x : v) x = -1;
    for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
    return v;
}
constexpr auto kBase64Values = makeBase64Values();

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

void balticToUtf8(std::string_view baltic, diag::Utf8Text& out) {
    std::string& s = out.str();
    s.reserve(s.size() + baltic.size() * 2);
    for (const char c : baltic) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0) break;
        if (b < 0x80) {
            s.push_back(c);
            continue;
        }
        const char16_t mapped = kBalticTable[b - 0x80];
        const char16_t cp = mapped != 0 ? mapped : static_cast<char16_t>(b);
        // Every code point here is below 0x800: two UTF-8 bytes.
        s.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool base64Encode(const std::uint8_t* data, std::size_t size, std::string& out) {
    out.clear();
    if (data == nullptr || size == 0) return false;
    out.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t v = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        out.push_back(kBase64Alphabet[(v >> 18) & 0x3F]);
        out.push_back(kBase64Alphabet[(v >> 12) & 0x3F]);
        out.push_back(kBase64Alphabet[(v >> 6) & 0x3F]);
        out.push_back(kBase64Alphabet[v & 0x3F]);
    }
    const std::size_t rest = size - i;
    if (rest > 0) {
        std::uint32_t v = std::uint32_t{data[i]} << 16;
        if (rest == 2) v |= std::uint32_t{data[i + 1]} << 8;
        out.push_back(kBase64Alphabet[(v >> 18) & 0x3F]);
        out.push_back(kBase64Alphabet[(v >> 12) & 0x3F]);
        out.push_back(rest == 2 ? kBase64Alphabet[(v >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    return true;
}

bool base64Decode(std::string_view text, Bytes& out) {
    out.clear();
    const std::size_t end = text.find('\0');
    if (end != std::string_view::npos) text = text.substr(0, end);
    if (text.empty()) return false;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t group = 0;
    int count = 0;
    for (const char c : text) {
        const int v = kBase64Values[static_cast<unsigned char>(c)];
        if (v < 0) continue;  // fill, white space and stray bytes are skipped
        group = (group << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(group >> 16));
            out.push_back(static_cast<std::uint8_t>(group >> 8));
            out.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            count = 0;
        }
    }
    // A short final group gives floor(6k/8) bytes.
    if (count == 2) {
        out.push_back(static_cast<std::uint8_t>(group >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<std::uint8_t>(group >> 10));
        out.push_back(static_cast<std::uint8_t>(group >> 2));
    }
    return true;
}

bool hexEncode(const std::uint8_t* data, std::size_t size, std::string& out) {
    out.clear();
    if (data == nullptr || size == 0) return false;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kHexDigits[data[i] >> 4]);
        out.push_back(kHexDigits[data[i] & 0x0F]);
    }
    return true;
}

bool base64ToHex(std::string_view base64, std::string& hex) {
    hex.clear();
    Bytes raw;
    if (!base64Decode(base64, raw)) return false;
    return hexEncode(raw, hex);
}

bool decimalFromLittleEndian(const std::uint8_t* data, std::size_t size, std::string& out) {
    out.clear();
    if (data == nullptr || size == 0) return false;
    // Leading zero bytes (at the end here) add nothing but work.
    std::size_t significant = size;
    while (significant > 1 && data[significant - 1] == 0) --significant;
    if (significant > kMaxDecimalInputBytes) return false;

    // Base 2^32 words in, base 10^9 limbs out: limb * 2^32 + carry stays
    // below 2^64 because limb < 10^9 and carry < 2^33.
    constexpr std::uint64_t kLimbBase = 1'000'000'000;
    constexpr std::size_t kLimbDigits = 9;
    std::vector<std::uint32_t> limbs;
    limbs.reserve(significant * 27 / 100 + 2);  // 8 * log10(2) / 9 digits a byte, rounded up
    limbs.push_back(0);
    const std::size_t words = (significant + 3) / 4;
    for (std::size_t w = words; w-- > 0;) {
        std::uint64_t carry = 0;
        for (std::size_t k = 4; k-- > 0;) {
            const std::size_t at = w * 4 + k;
            carry = (carry << 8) | (at < significant ? data[at] : 0u);
        }
        for (std::uint32_t& limb : limbs) {
            const std::uint64_t v = (static_cast<std::uint64_t>(limb) << 32) + carry;
            limb = static_cast<std::uint32_t>(v % kLimbBase);
            carry = v / kLimbBase;
        }
        while (carry != 0) {
            limbs.push_back(static_cast<std::uint32_t>(carry % kLimbBase));
            carry /= kLimbBase;
        }
    }
    out.reserve(limbs.size() * kLimbDigits);
    out = std::to_string(limbs.back());
    for (std::size_t i = limbs.size() - 1; i-- > 0;) {
        const std::string digits = std::to_string(limbs[i]);
        out.append(kLimbDigits - digits.size(), '0');
        out += digits;
    }
    return true;
}

bool percentDecode(std::string& text) {
    std::size_t w = 0;
    for (std::size_t r = 0; r < text.size(); ++r) {
        if (text[r] != '%') {
            text[w++] = text[r];
            continue;
        }
        const int hi = r + 1 < text.size() ? hexValue(text[r + 1]) : -1;
        const int lo = r + 2 < text.size() ? hexValue(text[r + 2]) : -1;
        if (hi < 0 || lo < 0) {
            // Keep only what was decoded before the malformed escape.
            text.resize(w);
            return false;
        }
        text[w++] = static_cast<char>((hi << 4) | lo);
        r += 2;
    }
    text.resize(w);
    return true;
}

void escapeSpaces(std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == ' ')
            escaped += "%20";
        else
            escaped.push_back(c);
    }
    text = std::move(escaped);
}

}  // namespace tessal::data
