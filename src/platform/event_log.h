#pragma once
// The system log: one RFC 5424 message per event, sent as a datagram to the
// local log socket (configuration value eventLogSocket of the platform
// section, default /dev/log), facility user.
#include <string>
#include <string_view>

namespace tessal::platform {

// Syslog severities used by the event log.
inline constexpr int kSyslogError = 3;
inline constexpr int kSyslogWarning = 4;
inline constexpr int kSyslogInformational = 6;

// The socket path in effect.
std::string eventLogSocketPath();

// The datagram for one event: "<PRI>1 TIMESTAMP HOSTNAME APP PROCID MSGID - ",
// the UTF-8 byte order mark and the message.
std::string syslogDatagram(int severity, std::string_view appName, std::string_view msgId,
                           std::string_view utf8Message);

// Sends it; false (errno in the thread's last error) when it cannot be sent.
bool sendSyslogEvent(int severity, std::string_view appName, std::string_view msgId, std::string_view utf8Message);

}  // namespace tessal::platform
