#pragma once
// JSON string literals for the machine-readable outputs (headers, summaries).
#include <string>
#include <string_view>

namespace tessal::diag {

// Appends `utf8` as a quoted JSON string: quotes, backslashes and control
// characters escaped, UTF-8 sequences kept as they are.
void appendJsonString(std::string& out, std::string_view utf8);

}  // namespace tessal::diag
