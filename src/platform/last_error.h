#pragma once
// The thread's last platform error code, which the error records capture when
// an entry is made. Adapters set it after a failed call: errno values for
// POSIX calls, and for the API layers the codes the logic tests
// (smart-card statuses 0x8010xxxx, cryptographic statuses 0x8009xxxx,
// internet codes 12001..12175, 1008 for a missing token).
#include <cstdint>

namespace tessal::platform {

std::uint32_t lastError();
void setLastError(std::uint32_t code);
// Copies errno into the thread's last error and answers it.
std::uint32_t captureErrno();

}  // namespace tessal::platform
