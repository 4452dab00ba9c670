#include "pki/store_query.h"

#include <cctype>
#include <cstdlib>

#include "data/codecs.h"
#include "diagnostics/ansi_text.h"
#include "platform/http_transport.h"
#include "platform/last_error.h"

namespace tessal::pki {

namespace {

constexpr std::u16string_view kInternetPackage = u"Interneto funkcijų paketo klaida";
// Windows' code for a part that does not fit its buffer.
constexpr std::uint32_t kInsufficientBuffer = 122;

struct SplitUrl {
    std::string path;
    std::optional<std::string> query;  // from its "?"
};

std::optional<SplitUrl> splitUrl(std::string_view url, int place, diag::ErrorRecord& error) {
    std::optional<platform::UrlParts> parts = platform::crackUrl(url);
    SplitUrl split;
    if (parts) {
        const std::string& whole = parts->pathAndQuery;
        const std::size_t mark = whole.find('?');
        split.path = whole.substr(0, mark);
        if (mark != std::string::npos) split.query = whole.substr(mark);
        if (split.path.size() > kMaxReferencePart || (split.query && split.query->size() > kMaxReferencePart)) {
            platform::setLastError(kInsufficientBuffer);
            parts.reset();
        }
    }
    if (!parts) {
        const std::string text(url.substr(0, url.find('\0')));
        diag::recordError(error, place, kBadUrlMessage, {kInternetPackage, diag::fromAnsi(text)});
        return std::nullopt;
    }
    return split;
}

// Names in reference URLs are windows-1257 text with percent escapes.
std::string decodeName(std::string_view text) {
    diag::Utf8Text utf8;
    data::balticToUtf8(text, utf8);
    std::string decoded = utf8.str();
    data::percentDecode(decoded);  // a malformed escape keeps what came before it
    return decoded;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool leadsIgnoringCase(std::string_view part, std::string_view word) {
    return part.size() <= word.size() && equalsIgnoringCase(part, word.substr(0, part.size()));
}

}  // namespace

StoreQuery prepareQuery(PkiQueryKind kind, std::string_view key) {
    StoreQuery query{kind, std::string(key)};
    if (hasBase64Key(kind)) {
        std::string hex;
        if (data::base64ToHex(key, hex)) query.key = std::move(hex);
        query.kind = withoutBase64Key(kind);
    }
    // Records keep common names lower-cased (ASCII letters), so a name from a
    // reference URL or a caller must be too, or a mixed-case name never matches.
    if (query.kind == CertByCommonName || query.kind == CrlByName) {
        for (char& c : query.key) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return query;
}

std::optional<StoreQuery> certificateQueryOfUrl(std::string_view url, diag::ErrorRecord& error) {
    const std::optional<SplitUrl> split = splitUrl(url, kCertificateUrlSplitPlace, error);
    if (!split) return std::nullopt;

    if (!split->query) {
        const std::size_t slash = split->path.rfind('/');
        if (slash == std::string::npos) {
            diag::recordErrorCode(error, 0, kCertificateUrlNamePlace, kCertificateNotFoundMessage);
            return std::nullopt;
        }
        std::string name = split->path.substr(slash + 1);
        if (const std::size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
        return StoreQuery{CertByCommonName, decodeName(name)};
    }

    const std::string& query = *split->query;
    const std::size_t amp = query.find('&');
    if (amp == std::string::npos) return StoreQuery{static_cast<PkiQueryKind>(CertByHash | Base64Key), query.substr(1)};

    struct Word {
        std::string_view word;
        PkiQueryKind kind;
        bool decode;
    };
    static constexpr Word kWords[] = {
        {"?hex", CertByHash, false},
        {"?pkhex", CertByKeyHash, false},
        {"?pk", static_cast<PkiQueryKind>(CertByKeyHash | Base64Key), false},
        {"?subject", CertBySubject, true},
        {"?issuerserial", CertByIssuerSerial, true},
    };
    const std::string_view word = std::string_view(query).substr(0, amp);
    const std::string key = query.substr(amp + 1);
    for (const Word& entry : kWords) {
        if (equalsIgnoringCase(word, entry.word)) return StoreQuery{entry.kind, entry.decode ? decodeName(key) : key};
    }
    diag::recordErrorCode(error, 0, kCertificateUrlWordPlace, kCertificateNotFoundMessage);
    return std::nullopt;
}

std::optional<StoreQuery> crlQueryOfUrl(std::string_view url, diag::ErrorRecord& error) {
    const std::optional<SplitUrl> split = splitUrl(url, kCrlUrlSplitPlace, error);
    if (!split) return std::nullopt;

    if (!split->query) {
        std::string name = decodeName(split->path);
        if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
        if (const std::size_t dot = name.find('.'); dot != std::string::npos) name.resize(dot);
        return StoreQuery{CrlByName, name};
    }

    const std::string& query = *split->query;
    const std::size_t amp = query.find('&');
    if (amp == std::string::npos) return StoreQuery{static_cast<PkiQueryKind>(CrlByHash | Base64Key), query.substr(1)};

    const std::string_view word = std::string_view(query).substr(0, amp);
    const std::string key = query.substr(amp + 1);
    if (leadsIgnoringCase(word, "?hex")) return StoreQuery{CrlByHash, key};
    if (leadsIgnoringCase(word, "?nca")) return StoreQuery{CrlByName, decodeName(key)};
    diag::recordErrorCode(error, 0, kCrlUrlWordPlace, kCrlNotFoundMessage);
    return std::nullopt;
}

std::size_t currentCrlPosition(std::string_view key, std::size_t listSize) {
    const std::string text(key.substr(0, key.find('\0')));
    const long number = std::strtol(text.c_str(), nullptr, 10);
    if (number < 0 || static_cast<unsigned long>(number) >= listSize) return 0;
    return static_cast<std::size_t>(number);
}

}  // namespace tessal::pki
