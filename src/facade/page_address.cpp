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

}  // namespace

std::optional<PageAddressParts> splitPageAddress(std::u16string_view address) {
    if (address.size() > kMaxAddress) {
        platform::setLastError(kInvalidUrl);
        return std::nullopt;
    }
    const std::u16string url = unescape(address);
    const std::size_t colon = url.find(u':');
    if (colon == std::u16string::npos || colon == 0 || colon > kMaxScheme) {
        platform::setLastError(kUnrecognizedScheme);
        return std::nullopt;
    }
    PageAddressParts parts;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!isSchemeChar(url[i], i == 0)) {
            platform::setLastError(kUnrecognizedScheme);
            return std::nullopt;
        }
        parts.scheme.push_back(lower(url[i]));
    }
    parts.port = defaultPort(parts.scheme);

    std::u16string_view rest = std::u16string_view(url).substr(colon + 1);
    const auto isSlash = [](char16_t c) { return c == u'/' || c == u'\\'; };
    if (rest.size() < 2 || !isSlash(rest[0]) || !isSlash(rest[1])) return parts;  // no authority
    rest.remove_prefix(2);
    const std::size_t end = rest.find_first_of(u"/\\?#");
    std::u16string_view authority = rest.substr(0, end);
    if (const std::size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) authority.remove_prefix(at + 1);

    std::u16string_view host = authority;
    std::u16string_view port;
    if (!authority.empty() && authority[0] == u'[') {
        const std::size_t close = authority.find(u']');
        if (close == std::u16string_view::npos) {
            platform::setLastError(kInvalidUrl);
            return std::nullopt;
        }
        host = authority.substr(0, close + 1);
        const std::u16string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != u':') {
                platform::setLastError(kInvalidUrl);
                return std::nullopt;
            }
            port = after.substr(1);
        }
    } else if (const std::size_t c = authority.rfind(u':'); c != std::u16string_view::npos) {
        host = authority.substr(0, c);
        port = authority.substr(c + 1);
    }
    if (!port.empty()) {
        std::uint32_t value = 0;
        for (char16_t ch : port) {
            if (ch < u'0' || ch > u'9' || (value = value * 10 + (ch - u'0')) > 65535) {
                platform::setLastError(kInvalidUrl);
                return std::nullopt;
            }
        }
        parts.port = static_cast<std::uint16_t>(value);
    }
    if (host.size() <= kMaxHost) {
        for (char16_t ch : host) parts.host.push_back(lower(ch));
    }
    return parts;
}

}  // namespace tessal::facade
