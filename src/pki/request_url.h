#pragma once
// The address of one certificate web-service request: the template URL with
// the endpoint form of a query kind and its key appended. The HTTP client
// replaces the template's scheme, host and port with those of a PKI domain;
// only the path and query reach the service.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/error_record.h"
#include "pki/query_kind.h"

namespace tessal::pki {

// Never contacted: the host is always replaced before a connection is made.
inline constexpr std::string_view kTemplateUrl = "http://pki.invalid/pki/";

// The longest request URL, in characters.
inline constexpr std::size_t kMaxRequestUrlLength = 2047;

// Place and catalogue index recorded for a kind without a service form and
// for a URL longer than kMaxRequestUrlLength.
inline constexpr int kRequestUrlPlace = 3010;
inline constexpr int kInvalidParametersMessage = 80;

// The endpoint form of `kind` ("cert/?hex&", "crl/", ...), or nothing when
// the service has none for it.
std::optional<std::string_view> endpointForm(PkiQueryKind kind);

// Builds the request URL into `url`. An absent key appends nothing. A kind
// without a service form, or a URL that would be longer than the limit,
// records place 3010, message 80 in `error`, leaves `url` empty and answers
// false: a shortened request would ask the service for something else.
bool buildRequestUrl(std::optional<std::string_view> key, PkiQueryKind kind, std::string& url,
                     diag::ErrorRecord& error);

}  // namespace tessal::pki
