#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// `tessal header FILE`: prints the business header of an XML document as one
// line of JSON; answers the exit status.
int runHeader(const std::vector<std::string>& args);

extern const char* const kHeaderHelp;

}  // namespace tessal::cli
