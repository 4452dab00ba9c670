#pragma once
// Splits the hosting page's address into scheme, host and port the way the
// browser canonicalises it: scheme and host in lower case, the host's escapes
// undone, user information dropped, the scheme's default port when none is
// given. The host is the one text both the approved-site match and the PKI
// domain list take, so only plain host names (ASCII letters, digits, hyphens,
// non-empty dot-separated labels) are accepted.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessal::facade {

struct PageAddressParts {
    std::u16string scheme;
    std::u16string host;  // empty when the address names no host (file:, about:)
    std::uint16_t port = 0;
};

// Nothing when the address cannot be canonicalised, has no valid scheme, an
// invalid port or a host that is not a plain host name; the thread's last
// error then says why.
std::optional<PageAddressParts> splitPageAddress(std::u16string_view address);

}  // namespace tessal::facade
