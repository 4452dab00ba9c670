#include "file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace tessal::cli {

std::optional<std::string> readFileBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

std::optional<int> takeFileArgument(const std::string& command, const char* help, const std::vector<std::string>& args,
                                    std::string& bytes, bool* json) {
    auto usage = [&](const std::string& message) {
        std::cerr << "tessal " << command << ": " << message << "\n(see 'tessal " << command << " --help')\n";
        return 2;
    };
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && (arg == "--help" || arg == "-h")) {
            std::cout << help;
            return 0;
        }
        if (options && arg == "--") {
            options = false;
        } else if (options && json && arg == "--json") {
            *json = true;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return usage("FILE is missing");
    if (files.size() > 1) return usage("only one FILE is taken");
    std::optional<std::string> read = readFileBytes(files[0]);
    if (!read) {
        std::cerr << "tessal " << command << ": cannot read '" << files[0] << "'\n";
        return 1;
    }
    bytes = std::move(*read);
    return std::nullopt;
}

}  // namespace tessal::cli
