#pragma once
// The texts derived from distinguished names and integers of certificates and
// CRLs: the name text, the common name taken from it, single attributes, the
// decimal serial number, and the PUBLICKEYBLOB of an RSA key.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/codecs.h"
#include "platform/x509.h"

namespace tessal::certs {

// The name text of a distinguished name (rendering described in name_text.cpp).
std::string nameText(const std::vector<platform::NameEntry>& entries);

// The common name of a name text: the text is split at every ',' and ';',
// each piece trimmed and its letters A to Z lowered; the first piece that
// starts with "cn=" gives the rest of the piece, trimmed. "" when none does.
std::string commonNameOf(std::string_view nameText);

// The value of the first attribute `oid` in encoded order, cut to
// `maxCharacters` characters; "" when the name has none.
std::string attributeValue(const std::vector<platform::NameEntry>& entries, std::string_view oid,
                           std::size_t maxCharacters = 255);

// Number of characters (code points) of a UTF-8 text.
std::size_t characterCount(std::string_view utf8);

// An unsigned integer given most significant byte first, in decimal without
// leading zeros ("0" for zero). False (and "") for no bytes.
bool decimalFromBigEndian(const std::uint8_t* data, std::size_t size, std::string& out);

// The PUBLICKEYBLOB of an RSA key: BLOBHEADER (PUBLICKEYBLOB, version 2,
// CALG_RSA_KEYX), RSAPUBKEY ("RSA1", bit length, 32-bit public exponent),
// then the modulus least significant byte first. Both integers are given most
// significant byte first; leading zero bytes are dropped. Nothing when the
// exponent does not fit in 32 bits.
std::optional<data::Bytes> publicKeyBlob(const data::Bytes& modulus, const data::Bytes& exponent);

// Offsets in the blob.
inline constexpr std::size_t kBlobMagicOffset = 8;
inline constexpr std::size_t kBlobBitLengthOffset = 12;
inline constexpr std::size_t kBlobExponentOffset = 16;
inline constexpr std::size_t kBlobModulusOffset = 20;

}  // namespace tessal::certs
