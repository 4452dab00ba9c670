#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessal::cli {

// The whole content of a file; nothing when it cannot be opened or read
// (a directory included, which the stream library would otherwise answer
// with an exception in the middle of reading). On failure *error, when
// given, holds the errno value.
std::optional<std::string> readFileBytes(const std::string& path, int* error = nullptr);
// The same as octets, for a document handed to a member as a byte array
// without a copy.
std::optional<std::vector<std::uint8_t>> readFileOctets(const std::string& path, int* error = nullptr);

// The FILE argument of a one-file command (`tessal COMMAND [--json] FILE`):
// "--help" prints `help`, "--" ends the options, `--json` sets *json when the
// command takes it. An exit status when the command ends here (0 after help,
// 2 for a usage error, 1 when the file cannot be read); otherwise FILE's bytes
// are in `bytes`.
std::optional<int> takeFileArgument(const std::string& command, const char* help, const std::vector<std::string>& args,
                                    std::string& bytes, bool* json = nullptr);
std::optional<int> takeFileArgument(const std::string& command, const char* help, const std::vector<std::string>& args,
                                    std::vector<std::uint8_t>& bytes, bool* json = nullptr);

}  // namespace tessal::cli
