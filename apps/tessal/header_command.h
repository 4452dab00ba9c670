#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// `tessal header FILE`: the business header of a document as JSON.
int runHeader(const std::vector<std::string>& args);

extern const char* const kHeaderHelp;

}  // namespace tessal::cli
