#include "platform/clock.h"

#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace tessal::platform {

LocalTime localTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return localTimeOf(now.tv_sec, static_cast<std::uint32_t>(now.tv_nsec)).value_or(LocalTime{});
}

std::optional<LocalTime> localTimeOf(std::int64_t seconds, std::uint32_t nanoseconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    tm parts{};
    if (!localtime_r(&when, &parts)) return std::nullopt;
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.millisecond = static_cast<int>(nanoseconds / 1000000u);
    t.utcOffsetMinutes = static_cast<int>(parts.tm_gmtoff / 60);
    return t;
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(getpid()); }

std::uint32_t currentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }

bool is32BitProcessOn64BitSystem() {
    if constexpr (sizeof(void*) >= 8) {
        return false;
    } else {
        // uname reports the kernel's machine, also to a 32-bit process.
        utsname u{};
        if (uname(&u) != 0) return false;
        return std::strstr(u.machine, "64") != nullptr || std::strcmp(u.machine, "s390x") == 0;
    }
}

}  // namespace tessal::platform
