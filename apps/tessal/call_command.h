#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// `tessal call [options] MEMBER [ARG...] [:: MEMBER [ARG...]]...`; answers the exit status.
int runCall(const std::vector<std::string>& args);

extern const char* const kCallHelp;

}  // namespace tessal::cli
