// crackUrl without the HTTP library: the library is loaded only when a request
// is made, while URLs are split on every verification. The rules below give
// the same parts and the same failures as the library's own URL parser, so a
// URL accepted here is one the transport will fetch, and one refused here is
// one it would refuse.
#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "platform/http_transport.h"
#include "platform/last_error.h"

namespace tessal::platform {

namespace {

constexpr std::size_t kMaxUrlLength = 8000000;
constexpr std::size_t kMaxSchemeLength = 40;
constexpr std::size_t kMaxZoneLength = 15;
// Bytes a host name may not hold, after its escapes are decoded.
constexpr std::string_view kHostRefused = " \r\n\t/:#?!@{}[]\\$'\"^`*<>=;,+&()";

// Schemes the transport's library knows; any other is refused as unsupported
// before the rest of the URL is looked at.
constexpr std::array<std::string_view, 30> kKnownSchemes = {
    "dict",  "file",   "ftp",    "ftps",  "gopher", "gophers", "http", "https", "imap", "imaps",
    "ldap",  "ldaps",  "mqtt",   "pop3",  "pop3s",  "rtmp",    "rtmpe", "rtmps", "rtmpt", "rtmpte",
    "rtmpts", "rtsp",  "scp",    "sftp",  "smb",    "smbs",    "smtp", "smtps", "telnet", "tftp"};

enum class Verdict { Ok, Malformed, UnsupportedScheme };

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue(char c) { return isDigit(c) ? c - '0' : (std::tolower(static_cast<unsigned char>(c)) - 'a' + 10); }
bool isSchemeChar(char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; }

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && lowered(text.substr(0, prefix.size())) == prefix;
}

bool hasControlBytes(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

// "c:", "c|", "c:/..." and "c:\...": a drive letter, which a file URL may not name here.
bool startsWithDrive(std::string_view text) {
    return text.size() >= 2 && isAlpha(text[0]) && (text[1] == ':' || text[1] == '|') &&
           (text.size() == 2 || text[2] == '/' || text[2] == '\\');
}

// A file URL is never fetched; whether it is well formed only decides which
// failure is reported.
bool fileUrlWellFormed(std::string_view url, std::string_view afterScheme) {
    if (url.size() <= 6) return false;
    std::string_view path = afterScheme;
    if (path.starts_with("//")) {
        path.remove_prefix(2);
        if (!path.starts_with('/') && !startsWithDrive(path)) {
            if (!startsWithIgnoringCase(path, "localhost/") && !startsWithIgnoringCase(path, "127.0.0.1/")) return false;
            path.remove_prefix(9);
        }
    }
    if ((path.starts_with('/') && startsWithDrive(path.substr(1))) || startsWithDrive(path)) return false;
    // Control bytes are refused in every part, except in a path of one byte.
    const std::size_t pathEnd = std::min(path.find_first_of("?#"), path.size());
    return !(pathEnd > 1 && hasControlBytes(path.substr(0, pathEnd))) && !hasControlBytes(path.substr(pathEnd));
}

// A number as strtoul with base 0 reads it (0x.. hex, 0.. octal, else
// decimal), saturated just above 32 bits. Stops at the first byte it cannot use.
std::uint64_t readNumber(std::string_view text, std::size_t& pos) {
    constexpr std::uint64_t kSaturated = 0x100000000ULL;
    unsigned base = 10;
    if (text[pos] == '0') {
        if (pos + 2 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X') && isHexDigit(text[pos + 2])) {
            base = 16;
            pos += 2;
        } else {
            base = 8;
        }
    }
    std::uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        unsigned digit = 0;
        if (base == 16 && isHexDigit(c)) {
            digit = static_cast<unsigned>(hexValue(c));
        } else if (isDigit(c) && static_cast<unsigned>(c - '0') < base) {
            digit = static_cast<unsigned>(c - '0');
        } else {
            break;
        }
        value = std::min(value * base + digit, kSaturated);
    }
    return value;
}

// "127.1", "0x7f.1", "0177.0.0.1" and the like become dotted decimal; a host
// that is not such a number is left alone (nothing).
std::optional<std::string> dottedIpv4(std::string_view host) {
    std::array<std::uint64_t, 4> parts{};
    std::size_t count = 0;
    std::size_t pos = 0;
    for (;;) {
        if (count == parts.size() || pos >= host.size() || !isDigit(host[pos])) return std::nullopt;
        parts[count++] = readNumber(host, pos);
        if (pos == host.size()) break;
        if (host[pos] != '.') return std::nullopt;
        ++pos;
    }
    std::uint64_t address = 0;
    switch (count) {
        case 1:
            if (parts[0] > 0xFFFFFFFF) return std::nullopt;
            address = parts[0];
            break;
        case 2:
            if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return std::nullopt;
            address = parts[0] << 24 | parts[1];
            break;
        case 3:
            if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return std::nullopt;
            address = parts[0] << 24 | parts[1] << 16 | parts[2];
            break;
        default:
            if (std::any_of(parts.begin(), parts.end(), [](std::uint64_t p) { return p > 0xFF; })) return std::nullopt;
            address = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
            break;
    }
    return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xFF) + '.' +
           std::to_string(address >> 8 & 0xFF) + '.' + std::to_string(address & 0xFF);
}

// "[address%zone]": the address checked and, where that is shorter, given in
// its canonical form; the zone is checked and dropped.
std::optional<std::string> bracketedIpv6(std::string_view host) {
    std::string_view inner = host.substr(1, host.size() - 2);
    const std::size_t percent = inner.find('%');
    if (percent != std::string_view::npos) {
        std::string_view zone = inner.substr(percent + 1);
        if (zone.starts_with("25")) {
            zone.remove_prefix(2);
        } else if (zone.empty()) {
            return std::nullopt;
        }
        if (zone.size() > kMaxZoneLength) return std::nullopt;
        inner = inner.substr(0, percent);
    }
    const std::string address(inner);
    in6_addr binary{};
    if (inet_pton(AF_INET6, address.c_str(), &binary) != 1) return std::nullopt;
    char canonical[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET6, &binary, canonical, sizeof canonical)) return std::nullopt;
    const std::string_view shorter = std::string_view(canonical).size() < address.size() ? std::string_view(canonical)
                                                                                        : std::string_view(address);
    return "[" + std::string(shorter) + "]";
}

// A host name with its valid %XX escapes decoded; nothing when it then holds
// a byte a host name may not.
std::optional<std::string> decodedHostName(std::string_view host) {
    std::string out;
    out.reserve(host.size());
    for (std::size_t i = 0; i < host.size(); ++i) {
        if (host[i] == '%' && i + 2 < host.size() && isHexDigit(host[i + 1]) && isHexDigit(host[i + 2])) {
            out += static_cast<char>(hexValue(host[i + 1]) << 4 | hexValue(host[i + 2]));
            i += 2;
        } else {
            out += host[i];
        }
    }
    for (char c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || kHostRefused.find(c) != std::string_view::npos) return std::nullopt;
    }
    return out;
}

std::optional<std::string> normalisedHost(std::string_view host) {
    if (host.starts_with('[')) return bracketedIpv6(host);
    if (auto ipv4 = dottedIpv4(host)) return ipv4;
    return decodedHostName(host);
}

// Dot segments removed as in relative reference resolution: "/a/b/../c" is "/a/c".
std::string withoutDotSegments(std::string_view input) {
    std::string output;
    auto dropLastSegment = [&output] {
        const std::size_t slash = output.rfind('/');
        output.erase(slash == std::string::npos ? 0 : slash);
    };
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./")) {
            input.remove_prefix(2);
        } else if (input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../")) {
            input.remove_prefix(3);
            dropLastSegment();
        } else if (input == "/..") {
            input = "/";
            dropLastSegment();
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            const std::size_t end = input.find('/', 1);
            const std::size_t length = end == std::string_view::npos ? input.size() : end;
            output.append(input.substr(0, length));
            input.remove_prefix(length);
        }
    }
    return output;
}

// Digits only, at most 65535; an empty port text is no port at all.
bool readPort(std::string_view text, std::optional<std::uint16_t>& port) {
    if (text.empty()) return true;
    std::uint32_t value = 0;
    for (char c : text) {
        if (!isDigit(c)) return false;
        value = std::min<std::uint32_t>(value * 10 + static_cast<std::uint32_t>(c - '0'), 65536);
    }
    if (value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

Verdict split(std::string_view url, UrlParts& parts) {
    if (url.size() > kMaxUrlLength) return Verdict::Malformed;
    std::size_t schemeLength = 0;
    while (schemeLength < url.size() && isSchemeChar(url[schemeLength])) ++schemeLength;
    if (schemeLength == 0 || schemeLength > kMaxSchemeLength || schemeLength == url.size() || url[schemeLength] != ':') {
        return Verdict::Malformed;
    }
    const std::string scheme = lowered(url.substr(0, schemeLength));
    std::string_view rest = url.substr(schemeLength + 1);
    if (scheme == "file") return fileUrlWellFormed(url, rest) ? Verdict::UnsupportedScheme : Verdict::Malformed;
    if (std::find(kKnownSchemes.begin(), kKnownSchemes.end(), scheme) == kKnownSchemes.end()) {
        return Verdict::UnsupportedScheme;
    }
    if (hasControlBytes(url)) return Verdict::Malformed;

    std::size_t slashes = 0;
    while (slashes < rest.size() && slashes < 4 && rest[slashes] == '/') ++slashes;
    if (slashes < 1 || slashes > 3) return Verdict::Malformed;
    rest.remove_prefix(slashes);

    const std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view hostAndPort = rest.substr(0, authorityEnd);
    std::string_view tail = rest.substr(authorityEnd);
    if (const std::size_t at = hostAndPort.find('@'); at != std::string_view::npos) hostAndPort.remove_prefix(at + 1);

    std::string_view host = hostAndPort;
    std::string_view portText;
    if (hostAndPort.starts_with('[')) {
        const std::size_t close = hostAndPort.find(']');
        if (close == std::string_view::npos) return Verdict::Malformed;
        const std::string_view after = hostAndPort.substr(close + 1);
        if (!after.empty() && after[0] != ':') return Verdict::Malformed;
        host = hostAndPort.substr(0, close + 1);
        if (!after.empty()) portText = after.substr(1);
    } else if (const std::size_t colon = hostAndPort.find(':'); colon != std::string_view::npos) {
        host = hostAndPort.substr(0, colon);
        portText = hostAndPort.substr(colon + 1);
    }
    std::optional<std::uint16_t> port;
    if (!readPort(portText, port) || host.empty()) return Verdict::Malformed;
    std::optional<std::string> normalised = normalisedHost(host);
    if (!normalised) return Verdict::Malformed;

    const bool secure = scheme == "https";
    if (!secure && scheme != "http") return Verdict::UnsupportedScheme;

    const std::size_t fragmentStart = tail.find('#');
    const std::string_view beforeFragment = tail.substr(0, fragmentStart);
    const std::size_t queryStart = beforeFragment.find('?');
    parts.scheme = scheme;
    parts.host = std::move(*normalised);
    parts.secure = secure;
    parts.port = port.value_or(secure ? 443 : 80);
    parts.pathAndQuery = withoutDotSegments(beforeFragment.substr(0, queryStart));
    if (parts.pathAndQuery.empty()) parts.pathAndQuery = "/";
    if (queryStart != std::string_view::npos) parts.pathAndQuery.append(beforeFragment.substr(queryStart));
    if (fragmentStart != std::string_view::npos && fragmentStart + 1 < tail.size()) {
        parts.pathAndQuery.append(tail.substr(fragmentStart));
    }
    return Verdict::Ok;
}

}  // namespace

std::optional<UrlParts> crackUrl(std::string_view url) {
    UrlParts parts;
    switch (split(url.substr(0, url.find('\0')), parts)) {
        case Verdict::Ok: return parts;
        case Verdict::UnsupportedScheme: setLastError(kInternetUnrecognisedScheme); return std::nullopt;
        case Verdict::Malformed: break;
    }
    setLastError(kInternetInvalidUrl);
    return std::nullopt;
}

}  // namespace tessal::platform
