#pragma once
#include <string>
#include <vector>

namespace tessal::cli {

// `tessal sign FILE [-o OUT] [--container NAME] [--log FILE]`: signs a
// document with the signer's key and saves the signed document.
int runSign(const std::vector<std::string>& args);

}  // namespace tessal::cli
