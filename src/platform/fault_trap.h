#pragma once
// Turns hardware faults on the calling thread (invalid memory access,
// arithmetic faults, illegal instructions, stack overflow) into a fault code
// with the values callers know: C0000005 access violation, C00000FD stack
// overflow, C0000094 integer division by zero, and so on.
#include <cstdint>
#include <functional>
#include <optional>

namespace tessal::platform {

// Runs `body`; answers the fault code when a fault interrupted it. Code after
// the fault in `body` does not run and its locals are not destroyed: this is
// the last line of defence, not a way of handling errors. Only the
// process-wide locks (TrapReleasedLock) taken inside `body` are given back.
// Nested calls trap in the innermost one. Faults outside any trap keep their
// default effect.
std::optional<std::uint32_t> runTrappingFaults(const std::function<void()>& body);

}  // namespace tessal::platform
