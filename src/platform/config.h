#pragma once
// The machine-wide configuration: one INI file, /etc/tessal/tessal.conf unless
// TESSAL_CONFIG names another. Sections are named by the registry key paths
// the values would have on the original platform, for example
//   [SOFTWARE\Classes\Tessal.Sign]
//   logFilePath = /var/log/tessal.log
//   defaultPkiDomain = https://pki.nk.example
// A missing file, section or value behaves as a missing registry key.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/secret_buffer.h"

namespace tessal::platform {

inline constexpr std::string_view kProductKey = "SOFTWARE\\Classes\\Tessal.Sign";
// Settings of the Linux adapters, each read where it is used:
//   eventLogSocket, httpDeadlineMs, httpMaxAnswerBytes, p11kitDiscovery;
//   publicHost = HOST[:PORT], the plain-http host asked when a certificate
//     service demands a client certificate that cannot be presented;
//   caFile = PATH, a PEM file of further authorities trusted for https;
//   requireHttps = yes, approved sites are served only over https (default
//     no): a page fetched over plain http can be altered in transit, and
//     that page drives the signer's key.
inline constexpr std::string_view kPlatformSection = "platform";

// The path of the configuration file in effect.
std::string configFilePath();

// Reads the file afresh and answers the value (leading and trailing blanks
// removed), or nothing when the file, the section or the value is missing.
// Section names compare case-insensitively, as registry keys do; value names too.
std::optional<std::string> configValue(std::string_view section, std::string_view name);
// The same for a secret (a PIN): the value is copied only into the wiped
// buffer answered, and the file's bytes are wiped after reading.
std::optional<SecretBuffer> configSecret(std::string_view section, std::string_view name);

// The names of the sections directly below `prefix` (what follows
// "prefix\\"), in the order they first appear in the file, as the subkeys
// of a registry key would be enumerated. The prefix compares
// case-insensitively; a section given twice is listed once.
std::vector<std::string> configSubsections(std::string_view prefix);

}  // namespace tessal::platform
