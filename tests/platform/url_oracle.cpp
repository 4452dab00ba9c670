#include "platform/url_oracle.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/last_error.h"

namespace tessal::testing {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string describe(const std::optional<platform::UrlParts>& parts, std::uint32_t error) {
    if (!parts) return "error " + std::to_string(error);
    return "scheme=[" + parts->scheme + "] host=[" + parts->host + "] port=" + std::to_string(parts->port) +
           " secure=" + std::to_string(parts->secure) + " path=[" + parts->pathAndQuery + "]";
}

}  // namespace

OracleSplit libraryCrackUrl(std::string_view url) {
    OracleSplit out;
    CURLU* handle = curl_url();
    if (!handle) std::abort();
    const std::string text(url.substr(0, url.find('\0')));
    const CURLUcode set = curl_url_set(handle, CURLUPART_URL, text.c_str(), CURLU_ALLOW_SPACE);
    if (set == CURLUE_UNSUPPORTED_SCHEME) {
        out.error = platform::kInternetUnrecognisedScheme;
    } else if (set != CURLUE_OK) {
        out.error = platform::kInternetInvalidUrl;
    } else {
        auto part = [&](CURLUPart which, unsigned flags) -> std::optional<std::string> {
            char* value = nullptr;
            if (curl_url_get(handle, which, &value, flags) != CURLUE_OK || !value) return std::nullopt;
            std::string copy(value);
            curl_free(value);
            return copy;
        };
        const auto scheme = part(CURLUPART_SCHEME, 0);
        const auto host = part(CURLUPART_HOST, 0);
        const auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
        const bool secure = scheme && equalsIgnoringCase(*scheme, "https");
        if (!scheme || !(secure || equalsIgnoringCase(*scheme, "http"))) {
            out.error = platform::kInternetUnrecognisedScheme;
        } else if (!host || host->empty() || !port) {
            out.error = platform::kInternetInvalidUrl;
        } else {
            platform::UrlParts result;
            result.scheme = *scheme;
            result.host = *host;
            result.secure = secure;
            const unsigned long number = std::strtoul(port->c_str(), nullptr, 10);
            result.port = static_cast<std::uint16_t>(number <= 65535 ? number : (secure ? 443 : 80));
            result.pathAndQuery = part(CURLUPART_PATH, 0).value_or("/");
            if (result.pathAndQuery.empty()) result.pathAndQuery = "/";
            if (const auto query = part(CURLUPART_QUERY, 0)) result.pathAndQuery += "?" + *query;
            if (const auto fragment = part(CURLUPART_FRAGMENT, 0)) result.pathAndQuery += "#" + *fragment;
            out.parts = std::move(result);
        }
    }
    curl_url_cleanup(handle);
    return out;
}

std::string splitDifference(std::string_view url) {
    const OracleSplit expected = libraryCrackUrl(url);
    platform::setLastError(0);
    const std::optional<platform::UrlParts> actual = platform::crackUrl(url);
    const std::uint32_t error = actual ? 0 : platform::lastError();
    const std::string want = describe(expected.parts, expected.error);
    const std::string got = describe(actual, error);
    return want == got ? std::string() : "expected " + want + ", got " + got;
}

}  // namespace tessal::testing
