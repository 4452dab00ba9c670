#pragma once
// Runs a helper program as a child process and talks to it over one socket:
// the request goes in, the child's answer comes back, and the call returns
// when the child has ended. No shell is involved; the child keeps only its
// standard descriptors and the socket, and its standard output is sent to
// the caller's standard error, so nothing it prints reaches our stdout.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessal::platform {

// The descriptor on which the child finds the socket.
inline constexpr int kChildChannelFd = 3;

struct ChildOutcome {
    bool started = false;
    // The exit status when the child exited normally; nothing when it was
    // killed or its status was not kept (a host that ignores SIGCHLD has
    // its children reaped by the system).
    std::optional<int> exitStatus;
    bool killed = false;  // a signal ended it
    std::string answer;         // what the child sent back, up to the limit
    bool answerTooLong = false;  // it sent more; the rest was dropped
};

// Starts `program` with `arguments`, writes `request` to the socket, reads at
// most `maxAnswer` bytes of answer until the child closes its end, and waits
// for it to end. The wait lasts as long as the child runs.
ChildOutcome exchangeWithChild(const std::string& program, const std::vector<std::string>& arguments,
                               std::string_view request, std::size_t maxAnswer);

}  // namespace tessal::platform
