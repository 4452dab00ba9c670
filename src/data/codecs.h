#pragma once
// The byte and text codecs the whole system shares besides the UTF-8 codec:
// the Baltic code page, Base64, hexadecimal, the decimal text of a long
// unsigned integer, and the two escaping rules of web-service addresses.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/utf8_text.h"

namespace tessal::data {

using Bytes = std::vector<std::uint8_t>;

// Windows-1257 bytes to UTF-8, appended to `out`; stops at a NUL byte.
void balticToUtf8(std::string_view baltic, diag::Utf8Text& out);

// Standard alphabet with '=' fill, no line breaks. False (and "") for empty input.
bool base64Encode(const std::uint8_t* data, std::size_t size, std::string& out);
inline bool base64Encode(const Bytes& data, std::string& out) { return base64Encode(data.data(), data.size(), out); }

// Skips every character outside the alphabet; a NUL ends the input; a final
// group of k characters gives floor(6k/8) bytes. False for empty input.
bool base64Decode(std::string_view text, Bytes& out);

// Upper-case hexadecimal, two digits a byte. False (and "") for empty input.
bool hexEncode(const std::uint8_t* data, std::size_t size, std::string& out);
inline bool hexEncode(const Bytes& data, std::string& out) { return hexEncode(data.data(), data.size(), out); }

// base64Decode followed by hexEncode.
bool base64ToHex(std::string_view base64, std::string& hex);

// The most significant bytes decimalFromLittleEndian converts (about 19700
// digits). The work grows with the square of the length, so a longer number,
// which no certificate or CRL field needs, is refused rather than converted.
inline constexpr std::size_t kMaxDecimalInputBytes = 8192;

// Unsigned integer stored least significant byte first to decimal text.
// False (and "") for zero bytes and for more than kMaxDecimalInputBytes
// significant bytes (leading zero bytes do not count).
bool decimalFromLittleEndian(const std::uint8_t* data, std::size_t size, std::string& out);

// %XY escapes to bytes, in place. False at a malformed escape; the text then
// holds what was decoded before it.
bool percentDecode(std::string& text);

// Every space becomes "%20", in place.
void escapeSpaces(std::string& text);

}  // namespace tessal::data
