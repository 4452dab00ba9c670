#pragma once
// The SigningTime of a signature: the text form read from the signed
// properties ("YYYY-MM-DDThh:mm[:ss[.fraction]]" with "Z", a "+hh:mm" or
// "-hh:mm" offset, or nothing for the verifying machine's local time).
#include <libxml/tree.h>

#include <optional>
#include <string_view>

#include "crypto/time_stamp_context.h"
#include "diagnostics/error_record.h"

namespace tessal::xml {

// The UTC moment of a signing-time text; nothing when the text is not one.
std::optional<crypto::FileTime> parseSigningTime(std::string_view text);

// Finds SigningTime in the signed properties (the SignedProperties element
// that SignedInfo references, or none) and reads it; 0 when there is none.
// Malformed content is recorded (places 436 to 438).
crypto::FileTime readSigningTime(xmlNodePtr signedProperties, diag::ErrorRecord& error);

}  // namespace tessal::xml
