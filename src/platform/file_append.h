#pragma once
// One attempt to append a block of bytes to a file, shared safely with other
// writers: open (creating, mode 0644), lock the byte range at the end, write,
// unlock, close.
#include <string>
#include <string_view>

namespace tessal::platform {

// True when the whole block was written. On failure errno is left in the
// thread's last error.
bool appendOnce(const std::string& path, std::string_view bytes);

}  // namespace tessal::platform
