#pragma once
// The public keys of the certificates this process has already read. Taking
// a key out of a certificate goes through libcrypto's decoder machinery,
// which costs more than checking a small document's signature, and a process
// meets the same few signers again and again.
#include <openssl/evp.h>

#include "platform/x509.h"

namespace tessal::platform {

// The key of the DER certificate as a new reference the caller frees; null
// when the certificate or its key does not decode. A certificate is matched
// by all of its bytes, so no other certificate's key is ever answered.
EVP_PKEY* publicKeyOfCertificate(const ByteBlock& der);

}  // namespace tessal::platform
