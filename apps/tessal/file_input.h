#pragma once
#include <optional>
#include <string>

namespace tessal::cli {

// The whole content of a file; nothing when it cannot be opened or read
// (a directory included, which the stream library would otherwise answer
// with an exception in the middle of reading).
std::optional<std::string> readFileBytes(const std::string& path);

}  // namespace tessal::cli
