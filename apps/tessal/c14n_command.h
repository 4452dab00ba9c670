#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// `tessal c14n [--method URI] [--ref VALUE] [--transforms FILE] FILE`; answers the exit status.
int runC14n(const std::vector<std::string>& args);

extern const char* const kC14nHelp;

}  // namespace tessal::cli
