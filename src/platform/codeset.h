#pragma once
// The narrow codeset of the process locale, and conversion through iconv.
#include <optional>
#include <string>
#include <string_view>

namespace tessal::platform {

// True when the locale's codeset is UTF-8 or the locale is C/POSIX.
bool narrowCodesetIsUtf8();

// UTF-16LE bytes to the locale codeset and back; unconvertible characters
// become '?' (to narrow) or U+003F (to wide). Nothing when iconv cannot open.
std::optional<std::string> utf16ToNarrow(std::u16string_view text);
std::optional<std::u16string> narrowToUtf16(std::string_view text);

}  // namespace tessal::platform
