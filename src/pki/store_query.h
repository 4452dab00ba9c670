#pragma once
// What a lookup in the certificate and CRL stores asks for: a query kind and
// its key, prepared from the caller's text or read from a reference URL in a
// signed document.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/error_record.h"
#include "pki/query_kind.h"

namespace tessal::pki {

struct StoreQuery {
    PkiQueryKind kind = CertByHash;
    std::string key;
    bool operator==(const StoreQuery&) const = default;
};

// Places and catalogue indexes of the lookups' own failures.
inline constexpr int kCrlUrlSplitPlace = 701;
inline constexpr int kCrlUrlWordPlace = 702;
inline constexpr int kCrlKindPlace = 703;
// The service answered a CRL other than the one the key names.
inline constexpr int kCrlAnswerPlace = 704;
inline constexpr int kCertificateUrlSplitPlace = 901;
inline constexpr int kCertificateUrlNamePlace = 902;
inline constexpr int kCertificateUrlWordPlace = 903;
inline constexpr int kCertificateKindPlace = 904;
// The service answered a certificate other than the one the key names.
inline constexpr int kCertificateAnswerPlace = 905;
inline constexpr int kBadUrlMessage = 25;
inline constexpr int kCertificateNotFoundMessage = 67;
inline constexpr int kCrlNotFoundMessage = 69;

// The longest path and the longest query a reference URL may have.
inline constexpr std::size_t kMaxReferencePart = 2047;

// A Base64 key becomes the upper-case hexadecimal text of its bytes (it stays
// as it is when it does not decode) and the kind loses its Base64Key bit.
// Common names (certificate common name, CRL issuer name) are lower-cased.
StoreQuery prepareQuery(PkiQueryKind kind, std::string_view key);

// The store query that a certificate reference URL stands for. Nothing, with
// place 901, 902 or 903 recorded in `error`, when the URL names none.
std::optional<StoreQuery> certificateQueryOfUrl(std::string_view url, diag::ErrorRecord& error);

// The same for a CRL reference URL; places 701 and 702.
std::optional<StoreQuery> crlQueryOfUrl(std::string_view url, diag::ErrorRecord& error);

// The position in the current CRL list that a short key (at most nine
// characters) names: its leading decimal number, 0 when it has none or the
// number is outside the list.
std::size_t currentCrlPosition(std::string_view key, std::size_t listSize);

}  // namespace tessal::pki
