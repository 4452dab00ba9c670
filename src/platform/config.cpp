#include "platform/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/secret_buffer.h"
#include "platform/unique_fd.h"

namespace tessal::platform {

namespace {

constexpr std::string_view kDefaultConfigFile = "/etc/tessal/tessal.conf";
constexpr std::string_view kBlanks = " \t\r\n\f\v";

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Registry key and value names ignore letter case; so do ours.
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

// A whole value in double quotes loses them, so that a value can keep
// leading or trailing blanks on purpose.
std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

std::string configFilePath() {
    const char* override = std::getenv("TESSAL_CONFIG");
    if (override && *override) return override;
    return std::string(kDefaultConfigFile);
}

namespace {

// The largest configuration file read; a larger one reads as its first
// this many bytes.
constexpr std::size_t kMaxConfigBytes = 1 << 20;

// Calls `visit` with each line of the configuration file, byte-order mark
// removed and blanks trimmed; false when the file cannot be opened. The file
// may hold PINs, so its bytes pass through one wiped buffer only.
template <typename Visit>
bool forEachLine(Visit&& visit) {
    const UniqueFd fd(::open(configFilePath().c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) return false;
    // A pipe or device tells no size: it gets room for the largest file.
    const auto size = S_ISREG(info.st_mode) ? static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) : kMaxConfigBytes;
    SecretBuffer text(std::min(size, kMaxConfigBytes));
    text.fillFrom(fd.get());
    std::string_view rest = text.view();
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        visit(trimmed(rest.substr(0, end)));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return true;
}

}  // namespace

namespace {

// Calls `found` with the value's text each time the value is given in the
// section; the last call is the one that counts.
template <typename Found>
void findValue(std::string_view section, std::string_view name, Found&& found) {
    bool inSection = false;
    forEachLine([&](std::string_view line) {
        if (line.empty() || line.front() == ';' || line.front() == '#') return;
        if (line.front() == '[') {
            // A section header without its closing bracket is skipped and
            // leaves the current section as it was.
            if (line.back() == ']') inSection = sameName(trimmed(line.substr(1, line.size() - 2)), section);
            return;
        }
        if (!inSection) return;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return;
        const std::string_view key = trimmed(line.substr(0, eq));
        if (key.empty() || !sameName(key, name)) return;
        // A value given twice: the later line wins, as a later edit would.
        found(unquoted(trimmed(line.substr(eq + 1))));
    });
}

}  // namespace

std::optional<std::string> configValue(std::string_view section, std::string_view name) {
    std::optional<std::string> value;
    findValue(section, name, [&](std::string_view text) { value = std::string(text); });
    return value;
}

std::optional<SecretBuffer> configSecret(std::string_view section, std::string_view name) {
    std::optional<SecretBuffer> value;
    findValue(section, name, [&](std::string_view text) { value = SecretBuffer::of(text); });
    return value;
}

std::vector<std::string> configSubsections(std::string_view prefix) {
    std::vector<std::string> names;
    forEachLine([&](std::string_view line) {
        if (line.size() < 2 || line.front() != '[' || line.back() != ']') return;
        const std::string_view section = trimmed(line.substr(1, line.size() - 2));
        if (section.size() <= prefix.size() + 1 || section[prefix.size()] != '\\') return;
        if (!sameName(section.substr(0, prefix.size()), prefix)) return;
        // Only direct subsections: deeper ones belong to a subsection.
        const std::string_view name = section.substr(prefix.size() + 1);
        if (name.find('\\') != std::string_view::npos) return;
        bool seen = false;
        for (const std::string& earlier : names) seen = seen || sameName(earlier, name);
        if (!seen) names.emplace_back(name);
    });
    return names;
}

}  // namespace tessal::platform
