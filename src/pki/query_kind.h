#pragma once
// The codes that select a certificate web-service endpoint and a store map.
// A code is a plain 16-bit value because the Base64Key bit is combined with
// the others and stored forms carry the number.
#include <cstdint>

namespace tessal::pki {

using PkiQueryKind = std::uint16_t;

inline constexpr PkiQueryKind CertByHash = 0;
inline constexpr PkiQueryKind CertByKeyHash = 1;
inline constexpr PkiQueryKind CertBySubject = 2;
inline constexpr PkiQueryKind CertByIssuerSerial = 4;
// Served by the in-memory stores only; the web service has no form for it.
inline constexpr PkiQueryKind CertByCommonName = 8;
inline constexpr PkiQueryKind CrlByHash = 0x100;
inline constexpr PkiQueryKind CrlByName = 0x2100;

// Set when the key is Base64 text rather than upper-case hexadecimal.
inline constexpr PkiQueryKind Base64Key = 0x1000;

constexpr bool hasBase64Key(PkiQueryKind kind) { return (kind & Base64Key) != 0; }
constexpr PkiQueryKind withoutBase64Key(PkiQueryKind kind) { return static_cast<PkiQueryKind>(kind & ~Base64Key); }

}  // namespace tessal::pki
