#pragma once
// The texts the CRL viewer shows, read from DER bytes with libcrypto and kept
// free of any toolkit so that they can be checked without a screen.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessal::ui {

struct RevokedSerial {
    std::string serialHex;       // upper-case hex of the magnitude, "-" in front when negative
    std::string revocationDate;  // "YYYY-MM-DD hh:mm:ss" UTC; "" when unreadable
};

struct CrlFields {
    std::string issuer;        // one line, most specific attribute first, UTF-8
    std::string thisUpdate;    // "YYYY-MM-DD hh:mm:ss" UTC; "" when unreadable
    std::string nextUpdate;    // likewise; "" when the CRL has none
    std::string algorithm;     // the signature algorithm's name, or its dotted OID
    std::vector<RevokedSerial> revoked;  // in encoded order, at most the cap
    std::size_t revokedTotal = 0;        // every entry of the CRL, listed or not
};

// A window cannot usefully list more than this many rows; a larger CRL is
// listed up to it and the viewer says how many were left out.
inline constexpr std::size_t kMaxListedRevoked = 100000;

// The fields of the CRL encoded at the start of `der`; nothing when the bytes
// are not a CRL.
std::optional<CrlFields> readCrlFields(const std::vector<std::uint8_t>& der,
                                       std::size_t maxListed = kMaxListedRevoked);

}  // namespace tessal::ui
