#include "platform/child_exchange.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

extern char** environ;

namespace tessal::platform {

namespace {

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        // MSG_NOSIGNAL: a child that died early must not take us down with SIGPIPE.
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Reads until the child closes its end; keeps at most `maxAnswer` bytes but
// drains the rest, so a talkative child is never left blocked on us.
void readAnswer(int fd, std::size_t maxAnswer, ChildOutcome& outcome) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        const auto got = static_cast<std::size_t>(n);
        const std::size_t room = maxAnswer - std::min(maxAnswer, outcome.answer.size());
        if (got > room) outcome.answerTooLong = true;
        outcome.answer.append(buffer, std::min(got, room));
    }
}

// Waits until the child has ended. With SIGCHLD ignored the wait still lasts
// until then, but ends with ECHILD and no status.
void waitFor(pid_t pid, ChildOutcome& outcome) {
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, 0);
        if (r == pid) break;
        if (r < 0 && errno == EINTR) continue;
        return;
    }
    if (WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
    outcome.killed = WIFSIGNALED(status);
}

}  // namespace

ChildOutcome exchangeWithChild(const std::string& program, const std::vector<std::string>& arguments,
                               std::string_view request, std::size_t maxAnswer) {
    ChildOutcome outcome;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return outcome;
    UniqueFd ours(pair[0]);
    UniqueFd theirs(pair[1]);

    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) return outcome;
    // dup2 onto the channel descriptor clears its close-on-exec flag; every
    // other descriptor above it is closed, whatever its flags.
    const bool planned = ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                         ::posix_spawn_file_actions_adddup2(&actions, 2, 1) == 0 &&
                         ::posix_spawn_file_actions_adddup2(&actions, theirs.get(), kChildChannelFd) == 0 &&
                         ::posix_spawn_file_actions_addclosefrom_np(&actions, kChildChannelFd + 1) == 0;
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    // The child starts with default signal dispositions and an empty mask,
    // whatever the host has set up.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = planned ? ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ) : -1;
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    theirs.reset();
    if (spawned != 0) return outcome;
    outcome.started = true;

    if (sendAll(ours.get(), request)) ::shutdown(ours.get(), SHUT_WR);
    readAnswer(ours.get(), maxAnswer, outcome);
    ours.reset();
    waitFor(pid, outcome);
    return outcome;
}

}  // namespace tessal::platform
