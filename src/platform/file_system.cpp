#include "platform/file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/last_error.h"
#include "platform/unique_fd.h"

namespace tessal::platform {

namespace {

constexpr std::size_t kPieceSize = 4096;
constexpr int kMaxLinkHops = 40;

class DirHandle {
public:
    explicit DirHandle(DIR* d) : dir_(d) {}
    ~DirHandle() {
        if (dir_) ::closedir(dir_);
    }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

// A temporary file that is removed unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& directory)
        : path_(directory + "/.tessal-XXXXXX"), fd_(::mkostemp(path_.data(), O_CLOEXEC)) {
        if (!fd_.valid()) path_.clear();
    }
    ~TemporaryFile() {
        fd_.reset();
        if (!path_.empty()) {
            const int saved = errno;
            ::unlink(path_.c_str());
            errno = saved;
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    bool close() { return fd_.close(); }
    bool renameTo(const std::string& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    std::string path_;
    UniqueFd fd_;
};

bool fail() {
    captureErrno();
    return false;
}

bool failWith(int code) {
    errno = code;
    return fail();
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Follows symbolic links in the last component so that the file they point
// to is replaced, not the link. A dangling link gives the path it names.
bool resolveLinks(const std::string& path, std::string& out) {
    std::string current = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            out = current;
            return true;
        }
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t n;
        while ((n = ::readlink(current.c_str(), link.data(), link.size())) >= 0 &&
               static_cast<std::size_t>(n) == link.size()) {
            link.resize(link.size() * 2);
        }
        if (n < 0) return fail();
        link.resize(static_cast<std::size_t>(n));
        current = link.starts_with('/') ? link : directoryOf(current) + "/" + link;
    }
    return failWith(ELOOP);
}

// The process's file-creation mask, read without changing it (umask() would
// briefly affect files other threads create).
mode_t currentUmask() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(f);
    }
    return mask;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Makes a completed rename durable; a failure here does not undo the rename.
void syncDirectory(const std::string& directory) {
    UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
}

bool writeInPlace(const std::string& path, const std::uint8_t* data, std::size_t size) {
    // Non-blocking open so that a FIFO without a reader fails instead of hanging.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!fd.valid()) return fail();
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    if (!writeAll(fd.get(), data, size)) return fail();
    if (!fd.close()) return fail();
    return true;
}

FileTime timeOf(const struct timespec& ts) {
    return FileTime{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec)};
}

FileTime timeOf(const struct statx_timestamp& ts) {
    return FileTime{static_cast<std::int64_t>(ts.tv_sec), ts.tv_nsec};
}

bool copyAcrossFileSystems(const std::string& source, const std::string& target) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!in.valid()) return fail();
    struct stat st;
    if (::fstat(in.get(), &st) != 0) return fail();
    if (!S_ISREG(st.st_mode)) return failWith(EXDEV);  // only files are copied

    TemporaryFile temp(directoryOf(target));
    if (!temp.valid()) return fail();
    std::uint8_t buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        if (n == 0) break;
        if (!writeAll(temp.fd(), buffer, static_cast<std::size_t>(n))) return fail();
    }
    // The owner only where the process may set it; mode after owner, since a
    // change of owner clears set-id bits.
    if (::fchown(temp.fd(), st.st_uid, st.st_gid) != 0) errno = 0;
    if (::fchmod(temp.fd(), st.st_mode & 07777) != 0) return fail();
    // The last-write time travels with the file, as the intake orders by it.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(temp.fd(), times) != 0) return fail();
    if (::fsync(temp.fd()) != 0) return fail();
    if (!temp.close()) return fail();
    if (!temp.renameTo(target)) return fail();
    syncDirectory(directoryOf(target));
    if (::unlink(source.c_str()) != 0) return fail();
    return true;
}

}  // namespace

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out, FileKind kind) {
    out.clear();
    // Opened without blocking so that a FIFO without a writer cannot hang the
    // caller; reads block again as usual (and such a FIFO reads as empty).
    const int noLink = kind == FileKind::RegularNoLink ? O_NOFOLLOW : 0;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | noLink));
    if (!fd.valid()) return fail();
    if (kind == FileKind::RegularNoLink) {
        // Checked on the open file: the name may have been replaced since it was listed.
        struct stat st;
        if (::fstat(fd.get(), &st) != 0) return fail();
        if (!S_ISREG(st.st_mode)) return failWith(EINVAL);
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    bool first = true;
    for (;;) {
        const std::size_t used = out.size();
        out.resize(used + kPieceSize);
        const ssize_t n = ::read(fd.get(), out.data() + used, kPieceSize);
        if (n < 0) {
            out.resize(used);
            if (errno == EINTR) continue;
            if (first) return fail();
            break;  // keep what was read before
        }
        out.resize(used + static_cast<std::size_t>(n));
        first = false;
        if (n == 0) break;
    }
    return true;
}

bool writeFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::string target;
    if (!resolveLinks(path, target)) return false;

    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return failWith(EISDIR);
    // Devices and FIFOs are written to, never replaced by a regular file.
    if (exists && !S_ISREG(st.st_mode)) return writeInPlace(target, data, size);

    TemporaryFile temp(directoryOf(target));
    if (!temp.valid()) return writeInPlace(target, data, size);

    if (exists) {
        if (::fchown(temp.fd(), st.st_uid, st.st_gid) != 0) errno = 0;
        if (::fchmod(temp.fd(), st.st_mode & 07777) != 0) return fail();
    } else if (::fchmod(temp.fd(), 0666 & ~currentUmask()) != 0) {
        return fail();
    }
    if (!writeAll(temp.fd(), data, size)) return fail();
    if (::fsync(temp.fd()) != 0) return fail();
    if (!temp.close()) return fail();
    if (!temp.renameTo(target)) return fail();
    syncDirectory(directoryOf(target));
    return true;
}

bool fileTimes(const std::string& path, FileTimes& out) {
    out = FileTimes{};
    struct statx stx;
    if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_MTIME | STATX_BTIME, &stx) == 0) {
        if (stx.stx_mask & STATX_MTIME) out.lastWrite = timeOf(stx.stx_mtime);
        if (stx.stx_mask & STATX_BTIME) out.creation = timeOf(stx.stx_btime);
        return true;
    }
    if (errno != ENOSYS) return fail();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return fail();
    out.lastWrite = timeOf(st.st_mtim);
    return true;
}

bool toLocalCalendar(const FileTime& time, CalendarTime& out) {
    ::tzset();  // follow TZ changes made after start-up
    const std::optional<LocalTime> local = localTimeOf(time.seconds, time.nanoseconds);
    if (!local) return fail();
    out = *local;
    return true;
}

bool pathExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 || fail();
}

bool changeDirectory(const std::string& path) { return ::chdir(path.c_str()) == 0 || fail(); }

bool currentDirectory(std::string& out) {
    out.clear();
    std::string buffer(4096, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::strlen(buffer.c_str()));
            out = std::move(buffer);
            return true;
        }
        if (errno != ERANGE) return fail();
        buffer.resize(buffer.size() * 2);
    }
}

bool listDirectory(const std::string& path, std::vector<DirectoryEntry>& out) {
    out.clear();
    DirHandle dir(::opendir(path.c_str()));
    if (!dir.get()) return fail();
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) return fail();
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        DirectoryEntry item;
        item.name = name;
        struct stat st;
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            item.regularFile = S_ISREG(st.st_mode);
            item.lastWrite = timeOf(st.st_mtim);
        }
        out.push_back(std::move(item));
    }
    return true;
}

bool moveFile(const std::string& source, const std::string& target) {
    // Replacing a directory is refused: rename would put a moved directory
    // in place of an empty one.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return failWith(EISDIR);
    if (::rename(source.c_str(), target.c_str()) == 0) return true;
    if (errno != EXDEV) return fail();
    return copyAcrossFileSystems(source, target);
}

}  // namespace tessal::platform
