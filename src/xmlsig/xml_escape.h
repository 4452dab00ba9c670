#pragma once
// Text put into an XML template: every value written between tags or inside
// a double-quoted attribute goes through here, so a name holding "&" or "<"
// stays text and can never open markup of its own.
#include <string>
#include <string_view>

namespace tessal::xml {

// `&`, `<`, `>` and `"` replaced by their predefined entities; everything
// else, UTF-8 sequences included, is kept as it is.
std::string xmlEscaped(std::string_view text);

}  // namespace tessal::xml
