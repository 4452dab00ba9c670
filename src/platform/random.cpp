#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>

#include "platform/last_error.h"

namespace tessal::platform {

bool randomBytes(std::uint8_t* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(out + done, size - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            captureErrno();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace tessal::platform
