#include "platform/cache_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/last_error.h"

namespace tessal::platform {

namespace {

bool isPrivateDirectory(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    return errno == EEXIST;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

std::optional<std::string> userCacheFolder() {
    std::string folder;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') {
        folder = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return std::nullopt;
        folder = std::string(home) + "/.cache";
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::optional<std::string> privateCacheSubfolder(std::string_view name, bool create) {
    const std::optional<std::string> root = userCacheFolder();
    if (!root) return std::nullopt;
    const std::string path = *root + "/" + std::string(name);
    if (create) {
        // The cache folder may be shared with other programs of the user; only
        // our own subfolder must be private.
        const std::size_t home = root->find('/', 1);
        for (std::size_t slash = home; slash != std::string::npos; slash = root->find('/', slash + 1)) {
            makeDirectory(root->substr(0, slash));
        }
        if (!makeDirectory(*root) || !makeDirectory(path)) {
            captureErrno();
            return std::nullopt;
        }
    }
    if (!isPrivateDirectory(path)) return std::nullopt;
    return path;
}

bool createFileOnce(const std::string& path, const std::uint8_t* data, std::size_t size) {
    if (::access(path.c_str(), F_OK) == 0) return false;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    std::string temporary = folder + "/.tmp-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        captureErrno();
        return false;
    }
    bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, data, size) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    // link() never replaces an existing name, so a file another process put
    // in place meanwhile stays as it is.
    if (ok) ok = ::link(temporary.c_str(), path.c_str()) == 0;
    if (!ok) captureErrno();
    ::unlink(temporary.c_str());
    return ok;
}

bool readPrivateFile(const std::string& path, std::vector<std::uint8_t>& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        captureErrno();
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
              (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    if (ok) {
        std::uint8_t chunk[4096];
        for (;;) {
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0) {
                if (errno == EINTR) continue;
                captureErrno();
                ok = false;
                break;
            }
            if (got == 0) break;
            out.insert(out.end(), chunk, chunk + got);
        }
    }
    ::close(fd);
    if (!ok) out.clear();
    return ok;
}

}  // namespace tessal::platform
