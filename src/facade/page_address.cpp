#include "facade/page_address.h"

#include "platform/last_error.h"

namespace tessal::facade {

namespace {

constexpr std::size_t kMaxAddress = 2084;
constexpr std::size_t kMaxScheme = 31;
constexpr std::size_t kMaxHost = 255;
constexpr std::uint32_t kInvalidUrl = 12005;
constexpr std::uint32_t kUnrecognizedScheme = 12006;

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::u16string unescape(std::u16string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == u'%' && i + 2 < s.size()) {
            const int hi = hexValue(s[i + 1]);
            const int lo = hexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char16_t>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool isSchemeChar(char16_t c, bool first) {
    const bool alpha = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    if (first) return alpha;
    return alpha || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

std::uint16_t defaultPort(std::u16string_view scheme) {
    if (scheme == u"http") return 80;
    if (scheme == u"https") return 443;
    if (scheme == u"ftp") return 21;
    if (scheme == u"gopher") return 70;
    return 0;
}

// A host the approved sites and the PKI domain list can both hold as the very
// same text: dot-separated labels of ASCII letters (already lower case),
// digits and hyphens. Anything else (control characters, blanks, '@', '%',
// slashes, non-ASCII letters, empty labels such as a trailing dot) could be
// read one way by the site match and another way by whatever later resolves
// the host, so it is not a host at all here.
bool isPlainHostName(std::u16string_view host) {
    if (host.size() > kMaxHost) return false;
    if (host.empty()) return true;  // file:///path names no host
    bool labelStart = true;
    for (char16_t c : host) {
        if (c == u'.') {
            if (labelStart) return false;
            labelStart = true;
            continue;
        }
        const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
        if (!allowed) return false;
        labelStart = false;
    }
    return !labelStart;
}

std::nullopt_t refuse(std::uint32_t error) {
    platform::setLastError(error);
    return std::nullopt;
}

}  // namespace

std::optional<PageAddressParts> splitPageAddress(std::u16string_view address) {
    if (address.size() > kMaxAddress) return refuse(kInvalidUrl);
    // The address is split as written and only the host's escapes are undone
    // afterwards: an escaped '@', '/' or '\' must not move the boundaries of
    // the host.
    const std::size_t colon = address.find(u':');
    if (colon == std::u16string_view::npos || colon == 0 || colon > kMaxScheme) return refuse(kUnrecognizedScheme);
    PageAddressParts parts;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!isSchemeChar(address[i], i == 0)) return refuse(kUnrecognizedScheme);
        parts.scheme.push_back(lower(address[i]));
    }
    parts.port = defaultPort(parts.scheme);

    std::u16string_view rest = address.substr(colon + 1);
    const auto isSlash = [](char16_t c) { return c == u'/' || c == u'\\'; };
    if (rest.size() < 2 || !isSlash(rest[0]) || !isSlash(rest[1])) return parts;  // no authority
    rest.remove_prefix(2);
    std::u16string_view authority = rest.substr(0, rest.find_first_of(u"/\\?#"));
    if (const std::size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) authority.remove_prefix(at + 1);

    std::u16string_view host = authority;
    if (const std::size_t c = authority.rfind(u':'); c != std::u16string_view::npos) {
        host = authority.substr(0, c);
        const std::u16string_view port = authority.substr(c + 1);
        if (!port.empty()) {
            std::uint32_t value = 0;
            for (char16_t ch : port) {
                if (ch < u'0' || ch > u'9' || (value = value * 10 + (ch - u'0')) > 65535) return refuse(kInvalidUrl);
            }
            parts.port = static_cast<std::uint16_t>(value);
        }
    }
    for (char16_t ch : unescape(host)) parts.host.push_back(lower(ch));
    if (!isPlainHostName(parts.host)) return refuse(kInvalidUrl);
    return parts;
}

}  // namespace tessal::facade
