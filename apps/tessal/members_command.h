#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// tessal members [--json]: the member table, as text lines or as a JSON
// array a page library or an extension can be generated from.
int runMembers(const std::vector<std::string>& args);

}  // namespace tessal::cli
