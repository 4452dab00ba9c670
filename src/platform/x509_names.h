#pragma once
// Conversions from libcrypto's name and integer objects into the shapes the
// certificate layer reads, shared by the certificate and CMS adapters.
#include <openssl/types.h>

#include <vector>

#include "platform/x509.h"

namespace tessal::platform::detail {

// The attributes of a distinguished name in encoded order.
std::vector<NameEntry> entriesOf(const X509_NAME* name);
// The content octets of a DER INTEGER; empty when it cannot be encoded.
ByteBlock integerContent(const ASN1_INTEGER* value);

}  // namespace tessal::platform::detail
