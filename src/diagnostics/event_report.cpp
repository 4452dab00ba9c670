#include "diagnostics/event_report.h"

#include "diagnostics/utf8_text.h"
#include "platform/event_log.h"

namespace tessal::diag {

namespace {

constexpr std::string_view kEventSource = "TVK";
constexpr std::string_view kEventId = "1000";

int syslogSeverity(std::uint32_t nSeverity) {
    switch (nSeverity) {
    case 1:
        return platform::kSyslogWarning;
    case 2:
        return platform::kSyslogError;
    default:
        return platform::kSyslogInformational;
    }
}

}  // namespace

// The system log needs no registered event source and no message file: the
// source name travels in each message, and the only setup is finding the log
// socket, which the sender does for every event.
bool reportEvent(std::u16string_view text, std::uint32_t nSeverity) {
    try {
        return platform::sendSyslogEvent(syslogSeverity(nSeverity), kEventSource, kEventId, utf8Encode(text));
    } catch (...) {
        return false;
    }
}

}  // namespace tessal::diag
