#include "file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <limits>

#include "command_arguments.h"
#include "platform/unique_fd.h"

namespace tessal::cli {

namespace {

// Growth step for content beyond what fstat announced (pipes, files in /proc,
// files that grow while being read), and the bound on a single read call.
constexpr std::size_t kChunk = 1 << 20;

// Reads the whole file into one buffer sized by fstat. One spare byte lets
// the end of an unchanged regular file be seen without growing the buffer;
// a file that grew or is not regular continues in bounded steps, and one
// that shrank ends where its content does.
template <typename Bytes>
std::optional<Bytes> readWhole(const std::string& path, int* error) {
    auto fail = [&](int code) -> std::optional<Bytes> {
        if (error) *error = code;
        return std::nullopt;
    };
    const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return fail(errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return fail(errno);
    if (S_ISDIR(info.st_mode)) return fail(EISDIR);
    std::size_t expected = 0;
    if (S_ISREG(info.st_mode) && info.st_size > 0) {
        if (static_cast<std::uintmax_t>(info.st_size) >= std::numeric_limits<std::size_t>::max() / 2) return fail(EFBIG);
        expected = static_cast<std::size_t>(info.st_size);
    }
    Bytes bytes;
    try {
        bytes.resize(expected > 0 ? expected + 1 : kChunk / 16);
        std::size_t filled = 0;
        for (;;) {
            if (filled == bytes.size()) bytes.resize(bytes.size() + std::max(bytes.size() / 2, kChunk));
            const std::size_t want = std::min(bytes.size() - filled, kChunk);
            const ssize_t n = ::read(fd.get(), reinterpret_cast<char*>(bytes.data()) + filled, want);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fail(errno);
            if (n == 0) break;
            filled += static_cast<std::size_t>(n);
        }
        bytes.resize(filled);
    } catch (const std::bad_alloc&) {
        return fail(ENOMEM);
    } catch (const std::length_error&) {
        return fail(EFBIG);
    }
    return bytes;
}

template <typename Bytes>
std::optional<int> takeFile(const std::string& command, const char* help, const std::vector<std::string>& args,
                            Bytes& bytes, bool* json) {
    std::vector<std::string> files;
    CommandArguments a(command, args);
    while (a.next()) {
        if (a.isHelp()) {
            std::cout << help;
            return 0;
        }
        if (json && a.is("--json")) {
            *json = true;
        } else if (a.isOption()) {
            return a.usage("unknown option '" + a.current() + "'");
        } else {
            files.push_back(a.current());
        }
    }
    if (files.empty()) return a.usage("FILE is missing");
    if (files.size() > 1) return a.usage("only one FILE is taken");
    std::optional<Bytes> read = readWhole<Bytes>(files[0], nullptr);
    if (!read) {
        std::cerr << "tessal " << command << ": cannot read '" << files[0] << "'\n";
        return 1;
    }
    bytes = std::move(*read);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> readFileBytes(const std::string& path, int* error) {
    return readWhole<std::string>(path, error);
}

std::optional<std::vector<std::uint8_t>> readFileOctets(const std::string& path, int* error) {
    return readWhole<std::vector<std::uint8_t>>(path, error);
}

std::optional<int> takeFileArgument(const std::string& command, const char* help, const std::vector<std::string>& args,
                                    std::string& bytes, bool* json) {
    return takeFile(command, help, args, bytes, json);
}

std::optional<int> takeFileArgument(const std::string& command, const char* help, const std::vector<std::string>& args,
                                    std::vector<std::uint8_t>& bytes, bool* json) {
    return takeFile(command, help, args, bytes, json);
}

}  // namespace tessal::cli
