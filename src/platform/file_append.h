#pragma once
// One attempt to append a block of bytes to a regular file, shared safely
// with other writers: open (creating, mode 0644, never blocking), lock the
// byte range at the end, write, unlock, close.
#include <string>
#include <string_view>

namespace tessal::platform {

// True when the whole block was written. A path that names anything but a
// regular file fails (ENXIO for a FIFO without a reader, else EINVAL). On
// failure errno is left in the thread's last error.
bool appendOnce(const std::string& path, std::string_view bytes);

}  // namespace tessal::platform
