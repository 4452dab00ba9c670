#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// `tessal register [--user|--system] [--browser NAME] [--manifest-dir DIR] [--host PATH]`:
// writes the browsers' native-messaging manifests that let the extension start
// tessal-host. Answers the exit status.
int runRegister(const std::vector<std::string>& args);

// `tessal unregister` with the same options: removes the manifests register
// writes, and only those.
int runUnregister(const std::vector<std::string>& args);

extern const char* const kRegisterHelp;

}  // namespace tessal::cli
