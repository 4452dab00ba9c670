#pragma once
// The limits every HTTP request of the certificate web service client runs
// under besides its per-step waits, from the [platform] section of the
// configuration file:
//   httpDeadlineMs     = the longest one request may take, redirects and the
//                        whole body included (default 20000)
//   httpMaxAnswerBytes = the largest answer body kept (default 64 MiB)
// A missing value, or one that is not a positive decimal number that fits,
// takes the default: no request is ever unlimited.
#include <cstdint>

namespace tessal::platform {

inline constexpr std::uint32_t kDefaultHttpDeadlineMs = 20000;
inline constexpr std::uint32_t kDefaultHttpMaxAnswerBytes = 64u * 1024u * 1024u;

struct HttpLimits {
    std::uint32_t deadlineMs = kDefaultHttpDeadlineMs;
    std::uint32_t maxAnswerBytes = kDefaultHttpMaxAnswerBytes;
};

// Reads the configuration file afresh.
HttpLimits configuredHttpLimits();

}  // namespace tessal::platform
