#pragma once
// The platform's message table: the text describing an error code, with its
// own line end, or nothing when the code is unknown.
#include <cstdint>
#include <optional>
#include <string>

namespace tessal::platform {

// Code spaces known here: errno values (1..4095), the missing-token code 1008,
// internet codes 12001..12175, smart-card statuses 0x80100001..0x801000FF,
// cryptographic statuses 0x80090001..0x8009FFFF, PKCS#11 return values as
// kPkcs11CodeBase + CKR, and curl results as kCurlCodeBase + CURLcode.
inline constexpr std::uint32_t kPkcs11CodeBase = 0xA0110000u;
inline constexpr std::uint32_t kCurlCodeBase = 0xA0C00000u;
inline constexpr std::uint32_t kHttpStatusBase = 0xA0480000u;

std::optional<std::string> systemMessageText(std::uint32_t code);

}  // namespace tessal::platform
