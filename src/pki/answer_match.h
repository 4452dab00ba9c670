#pragma once
// Whether a certificate or CRL that the web service answered is the object
// its lookup key names. The stores and the disk cache keep only answers that
// are; anything else would be found again under a key it does not carry.
#include <string_view>

#include "certs/certificate_record.h"
#include "certs/crl_record.h"
#include "pki/query_kind.h"

namespace tessal::pki {

// `kind` is a prepared kind (no Base64Key bit) and `key` its prepared key.
// Hexadecimal digests compare ignoring letter case; names compare exactly.
bool certificateAnswersKey(const certs::CertificateRecord& record, PkiQueryKind kind, std::string_view key);
bool crlAnswersKey(const certs::CrlRecord& record, PkiQueryKind kind, std::string_view key);

}  // namespace tessal::pki
