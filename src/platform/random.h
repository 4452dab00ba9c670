#pragma once
// Random bytes from the kernel's generator, for identifiers.
#include <cstddef>
#include <cstdint>

namespace tessal::platform {

// False (errno in the last error) when the kernel cannot supply them.
bool randomBytes(std::uint8_t* out, std::size_t size);

}  // namespace tessal::platform
