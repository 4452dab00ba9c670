#pragma once
// What a trace line says about its moment: the local time to the millisecond,
// and the process and thread that wrote it.
#include <cstdint>
#include <optional>

namespace tessal::platform {

struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    // Offset of local time from UTC, in minutes east.
    int utcOffsetMinutes = 0;
};

LocalTime localTimeNow();
// The local calendar fields of a moment given as seconds since 1970 and
// nanoseconds; nothing when the platform cannot convert it.
std::optional<LocalTime> localTimeOf(std::int64_t seconds, std::uint32_t nanoseconds);

std::uint32_t currentProcessId();
// The kernel's thread id (gettid), the number ps and /proc show.
std::uint32_t currentThreadId();

// True for a 32-bit build running on a 64-bit kernel.
bool is32BitProcessOn64BitSystem();

}  // namespace tessal::platform
