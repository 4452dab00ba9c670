#pragma once
// The libcrypto digest of a digest kind, for the adapters that hash or sign
// with libcrypto (not for use above platform/).
#include <openssl/evp.h>

#include "platform/digest.h"

namespace tessal::platform {

// Null for a kind libcrypto does not know.
const EVP_MD* evpDigestOf(DigestKind kind);

}  // namespace tessal::platform
