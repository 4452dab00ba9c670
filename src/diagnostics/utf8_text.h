#pragma once
// The system's own UTF-8 codec and Utf8Text, the form in which all text inside
// the system is held: UTF-8 bytes with a UTF-16 copy made on demand.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace tessal::diag {

// UTF-16 units to UTF-8, stopping at the first NUL unit. A valid surrogate pair
// becomes one four-byte sequence; a lone surrogate keeps its three-byte form.
std::string utf8Encode(std::u16string_view units);

struct Utf8DecodeResult {
    std::u16string units;
    bool ok = true;  // false when a continuation byte stood in lead position
};

// UTF-8 bytes to UTF-16 units. Stops at a NUL byte, at a stray continuation
// byte (failure; the units before it are kept), and when only one unit of
// `capacity` is left. A four-byte sequence of a code point above the Basic
// Multilingual Plane becomes its surrogate pair.
Utf8DecodeResult utf8Decode(std::string_view bytes,
                            std::size_t capacity = std::numeric_limits<std::size_t>::max());

// Decodes with a capacity of (byte length + 1) units, as Utf8Text does.
std::u16string utf16Of(std::string_view utf8);

// What becomes of a byte outside a well-formed UTF-8 sequence (overlong forms,
// surrogates and code points above U+10FFFF are not well formed).
enum class InvalidByte {
    Replace,  // U+FFFD
    Escape,   // the lone surrogate U+DC00 + byte (U+DC80..U+DCFF), which text never holds
};

// Every byte as UTF-16, NUL bytes included: nothing ends or shortens the text.
std::u16string utf8DecodeEach(std::string_view bytes, InvalidByte invalid);

// UTF-16 to UTF-8 as utf8Encode, except that a lone U+DC80..U+DCFF becomes
// its byte again: the inverse of utf8DecodeEach with InvalidByte::Escape.
std::string utf8EncodeEscaped(std::u16string_view units);

class Utf8Text {
public:
    Utf8Text() = default;
    explicit Utf8Text(std::string utf8) : bytes_(std::move(utf8)) {}
    static Utf8Text fromUtf16(std::u16string_view units) { return Utf8Text(utf8Encode(units)); }

    const std::string& str() const { return bytes_; }
    std::string& str() { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }

    // The whole text decoded afresh into UTF-16.
    std::u16string utf16() const { return utf16Of(bytes_); }

    void append(std::u16string_view units) { bytes_ += utf8Encode(units); }
    void appendUtf8(std::string_view utf8) { bytes_ += utf8; }
    void clear() { bytes_.clear(); }

    bool operator==(const Utf8Text&) const = default;

private:
    std::string bytes_;
};

}  // namespace tessal::diag
