#pragma once
// Conversion between UTF-16 and the narrow text that file, directory, key
// container and domain names take before they reach the platform: the
// locale's codeset, where a C/POSIX locale counts as UTF-8. Characters the
// codeset cannot hold become '?'.
#include <string>
#include <string_view>

namespace tessal::diag {

std::string toAnsi(std::u16string_view text);
std::u16string fromAnsi(std::string_view text);

// A file or directory name as the file system holds it, in UTF-16 that
// converts back to the very same bytes: where the codeset is UTF-8, each byte
// that is not part of a valid sequence is held as the lone surrogate
// U+DC80..U+DCFF (U+DC00 plus the byte), which valid text never contains.
// Both stop at a NUL, as a path does.
std::u16string fromAnsiName(std::string_view name);
std::string toAnsiName(std::u16string_view name);

// Every byte of a received body as text, NUL bytes included; a byte that does
// not convert becomes U+FFFD rather than ending the text.
std::u16string fromAnsiWhole(std::string_view bytes);

}  // namespace tessal::diag
