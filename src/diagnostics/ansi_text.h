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

}  // namespace tessal::diag
