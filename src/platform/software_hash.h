#pragma once
// Hashes computed in software, shared by the providers whose tokens sign a
// hash value they are given rather than hashing the data themselves.
#include <memory>

#include "platform/crypto_provider.h"

namespace tessal::platform {

// A fresh hash of `kind`; nothing with NTE_BAD_ALGID for a kind libcrypto
// does not offer, NTE_FAIL when it cannot set the hash up.
std::unique_ptr<HashObject> createSoftwareHash(DigestKind kind);

}  // namespace tessal::platform
