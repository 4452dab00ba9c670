#pragma once
// The two DER structure decodings the time-stamp check makes: an OCTET
// STRING's value, and a SEQUENCE as its encoded elements. Each decodes one
// complete element at the start of the block; bytes after it are ignored.
// Failures answer nothing with the thread's last error CRYPT_E_ASN1_BADTAG
// (wrong tag) or CRYPT_E_ASN1_EOD (the block ends inside the element).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/x509.h"

namespace tessal::platform {

inline constexpr std::uint32_t kAsn1BadTag = 0x8009310Bu;
inline constexpr std::uint32_t kAsn1EndOfData = 0x80093102u;

std::optional<ByteBlock> decodeOctetString(const std::uint8_t* data, std::size_t size);
// Every element of the SEQUENCE as its full encoding (tag, length, content).
std::optional<std::vector<ByteBlock>> decodeSequenceOfAny(const std::uint8_t* data, std::size_t size);

}  // namespace tessal::platform
