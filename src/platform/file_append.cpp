#include "platform/file_append.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/unique_fd.h"

namespace tessal::platform {

namespace {

// Locking is advisory and only keeps well-behaved readers and writers of the
// same range out; whether it succeeds does not decide the attempt.
void lockRange(int fd, off_t start, off_t length, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    const int saved = errno;
    (void)::fcntl(fd, F_SETLK, &lock);
    errno = saved;
}

}  // namespace

bool appendOnce(const std::string& path, std::string_view bytes) {
    // Opened without blocking, so a FIFO without a reader fails at once
    // (ENXIO) instead of hanging the caller; a log is a regular file, and
    // anything else (a FIFO with a reader, a device) could block or swallow
    // the line, so it fails the attempt too.
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644));
    if (file.get() < 0) {
        captureErrno();
        return false;
    }
    struct stat st;
    if (::fstat(file.get(), &st) != 0) {
        captureErrno();
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        captureErrno();
        return false;
    }
    const off_t end = ::lseek(file.get(), 0, SEEK_END);
    if (end < 0) {
        captureErrno();
        return false;
    }
    const off_t length = static_cast<off_t>(bytes.size());
    lockRange(file.get(), end, length, F_WRLCK);

    // With O_APPEND the kernel moves to the end and writes as one step, even
    // when other processes append at the same moment, so whole lines never
    // interleave; the lock above adds nothing to that guarantee.
    bool written = true;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            captureErrno();
            written = false;
            break;
        }
        // A short write (a full disk) is finished rather than repeated whole,
        // which would leave a torn copy of the line in the file.
        done += static_cast<std::size_t>(n);
    }

    lockRange(file.get(), end, length, F_UNLCK);
    return written;
}

}  // namespace tessal::platform
