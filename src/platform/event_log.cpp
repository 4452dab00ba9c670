#include "platform/event_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/config.h"
#include "platform/last_error.h"
#include "platform/unique_fd.h"

namespace tessal::platform {

namespace {

constexpr int kFacilityUser = 1;
constexpr std::string_view kDefaultSocket = "/dev/log";

// RFC 3339 local time with milliseconds and the offset from UTC.
std::string timestamp() {
    const LocalTime t = localTimeNow();
    const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

// A header field holds 1..maxLength printable ASCII characters without
// spaces; anything else is replaced so the header stays parseable.
std::string headerField(std::string_view value, std::size_t maxLength) {
    std::string out;
    for (char c : value.substr(0, maxLength)) out.push_back(c > 32 && c < 127 ? c : '_');
    return out.empty() ? std::string("-") : out;
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "-";
    return headerField(name, 255);
}

}  // namespace

std::string eventLogSocketPath() {
    const auto configured = configValue(kPlatformSection, "eventLogSocket");
    if (configured && !configured->empty()) return *configured;
    return std::string(kDefaultSocket);
}

std::string syslogDatagram(int severity, std::string_view appName, std::string_view msgId,
                           std::string_view utf8Message) {
    std::string d = "<" + std::to_string(kFacilityUser * 8 + severity) + ">1 ";
    d += timestamp() + ' ';
    d += hostName() + ' ';
    d += headerField(appName, 48) + ' ';
    d += std::to_string(currentProcessId()) + ' ';
    d += headerField(msgId, 32) + " - ";
    d += "\xEF\xBB\xBF";
    d += utf8Message;
    return d;
}

bool sendSyslogEvent(int severity, std::string_view appName, std::string_view msgId, std::string_view utf8Message) {
    const std::string path = eventLogSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        setLastError(ENAMETOOLONG);
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());

    UniqueFd s(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (s.get() < 0) {
        captureErrno();
        return false;
    }
    const std::string datagram = syslogDatagram(severity, appName, msgId, utf8Message);
    ssize_t sent;
    do {
        sent = ::sendto(s.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0 || static_cast<std::size_t>(sent) != datagram.size()) {
        captureErrno();
        return false;
    }
    return true;
}

}  // namespace tessal::platform
