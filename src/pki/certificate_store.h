#pragma once
// The process-wide certificate store: every certificate met so far, found by
// its identifier or by any of its seven other keys, filled from the disk cache
// of earlier processes and from the certificate web service. Entries are
// never removed; an addition under a present key replaces the old value.
#include <memory>
#include <string>
#include <string_view>

#include "certs/certificate_record.h"
#include "pki/pki_client.h"
#include "pki/query_kind.h"
#include <optional>
#include <vector>

namespace tessal::pki {

// The folder of the disk cache inside the user's cache folder, and the
// ending of its files (the certificate identifier comes before it).
inline constexpr std::string_view kCacheFolderName = "Tessal.Sign.Certs";
inline constexpr std::string_view kCacheFileEnding = ".crx";

// The client a certificate context asks; the first call in the process loads
// the disk cache.
std::unique_ptr<PkiClient> openCertificateSource();

// Loads the disk cache into the store once per process. Files that cannot be
// read or do not hold a certificate answer are skipped.
void loadCertificateCache();

// Stores a copy under its identifier and its seven other keys.
void addCertificate(const certs::CertificateRecord& record);

// Finds a certificate by `kind` and `key` in the store, asking `client` when
// the store lacks it; a fetched certificate is kept in the store and the disk
// cache. False with the reason in the result's error record.
bool findCertificate(certs::CertificateRecord& result, PkiSource& client, PkiQueryKind kind, std::string_view key);

// Finds the certificate that a reference URL of a signed document names.
bool findCertificateByUrl(std::string_view url, certs::CertificateRecord& result, PkiSource& client);

// Test seam: empties the store and forgets that the disk cache was loaded.
void clearCertificateStoreForTesting();

}  // namespace tessal::pki
