#pragma once
// The process-wide CRL store: every CRL fetched so far by its identifier, and
// the list of current CRLs that the web service hands out by position and
// that is fetched anew when it is five minutes old.
#include <cstdint>
#include <functional>
#include <string_view>

#include "certs/crl_record.h"
#include "pki/pki_client.h"
#include "pki/query_kind.h"
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tessal::pki {

// Seconds after which the current CRL list is fetched again.
inline constexpr std::int64_t kCurrentCrlLifetime = 300;
// The service numbers its current CRLs 0 to 9.
inline constexpr int kMaxCurrentCrls = 10;
// Keys of at most this many characters name a position in the current list.
inline constexpr std::size_t kMaxPositionKey = 9;

// Finds a CRL by hash (the store first, then the service) or by name (the
// current list, refreshed when old or when the CRL found is past its next
// update). False with the reason in the result's error record.
bool findCrl(PkiSource& client, certs::CrlRecord& result, PkiQueryKind kind, std::string_view key);

// Finds the CRL that a reference URL of a signed document names.
bool findCrlByUrl(std::string_view url, certs::CrlRecord& result, PkiSource& client);

// Fetches the current CRLs and replaces the list. On failure the list stays
// as it was and the client's error record says why.
bool refreshCurrentCrls(PkiSource& client);

// Test seams: empties the store; replaces the clock (seconds since 1970;
// an empty function restores the system clock).
void clearCrlStoreForTesting();
void setCrlClockForTesting(std::function<std::int64_t()> clock);

}  // namespace tessal::pki
