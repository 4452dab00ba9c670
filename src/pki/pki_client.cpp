#include "pki/pki_client.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <new>

#include "diagnostics/ansi_text.h"
#include "diagnostics/log_file.h"
#include "pki/domain_list.h"
#include "pki/request_url.h"
#include "platform/http_limits.h"
#include "platform/http_transport.h"
#include "platform/last_error.h"

namespace tessal::pki {

namespace {

constexpr std::string_view kAgent = "TrevCert";
constexpr std::uint32_t kTimeoutMs = 3000;
// The longest host a base URL may name.
constexpr std::size_t kMaxHostLength = 259;

constexpr std::u16string_view kInternetPackage = u"Interneto funkcijų paketo klaida";
constexpr std::u16string_view kNoDomains =
    u"Nenustatyti viešojo rakto infrastruktūros objektų pasiekiamumo adresai (nustatomi pagal interneto naršyklės "
    u"prisijungimo adresą arba Registry šakoje \"defaultPkiDomain\" nurodytus interneto adresus)";

// Places and catalogue indexes of the client's entries.
constexpr int kPlaceOpen = 3001;
constexpr int kPlaceConnect = 3002;
constexpr int kPlaceRequest = 3003;
constexpr int kPlaceRead = 3004;
constexpr int kPlaceStatus = 3005;
constexpr int kMessageInitFailed = 24;
constexpr int kMessageBadUrl = 25;
constexpr int kMessageUnreachable = 26;
constexpr int kMessageReadFailed = 27;
constexpr int kMessageText = 91;
constexpr int kMessageBadStatus = 98;

constexpr std::uint32_t kStatusOk = 200;

bool isHttps(std::string_view scheme) {
    return scheme.size() == 5 && std::equal(scheme.begin(), scheme.end(), "https", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

}  // namespace

// ---------------------------------------------------------------- body

bool ResponseBody::append(const char* bytes, std::size_t count) {
    if (count == 0) return true;
    if (count > std::numeric_limits<std::size_t>::max() - size_) return false;
    const std::size_t needed = size_ + count;
    if (capacity_ < needed) {
        // Doubling keeps the copying linear in the body's length however
        // small the chunks arrive.
        const std::size_t doubled = capacity_ <= std::numeric_limits<std::size_t>::max() / 2 ? capacity_ * 2 : needed;
        const std::size_t grownCapacity = std::max(needed, doubled);
        std::unique_ptr<char[]> grown(new (std::nothrow) char[grownCapacity]);
        if (!grown) return false;
        if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = grownCapacity;
    }
    std::memcpy(data_.get() + size_, bytes, count);
    size_ = needed;
    return true;
}

PkiSource::~PkiSource() = default;

// ---------------------------------------------------------------- client

struct PkiClient::Target {
    std::string scheme;
    std::string host;
    std::uint16_t port = 0;
    bool secure = false;
};

// Keeps the body of a 200 answer; any other answer is left unread.
class PkiClient::BodyReader : public platform::ResponseReader {
public:
    explicit BodyReader(ResponseBody& body) : body_(body) {}
    bool wantsBody(std::uint32_t status) override { return status == kStatusOk; }
    bool chunk(const char* data, std::size_t size) override { return body_.append(data, size); }

private:
    ResponseBody& body_;
};

PkiClient::PkiClient() = default;

PkiClient::~PkiClient() { resetConnection(); }

void PkiClient::resetConnection() {
    error_.lastError = 0;
    error_.code = 0;
    request_.reset();
    connection_.reset();
    internet_.reset();
}

bool PkiClient::request(std::optional<std::string_view> key, PkiQueryKind kind) {
    std::string url;
    if (!buildRequestUrl(key, kind, url, error_)) return false;
    return fetch(url, std::nullopt);
}

bool PkiClient::fetch(std::string_view url, std::optional<std::string_view> baseUrl) {
    if (errorPending()) return false;

    PkiDomainList& domains = pkiDomainList();
    const std::size_t domainCount = baseUrl ? 0 : domains.count();
    if (!baseUrl && domainCount == 0) {
        diag::recordErrorCode(error_, 0, kPlaceOpen, kMessageText, {kNoDomains});
        return false;
    }

    resetConnection();

    const std::optional<platform::UrlParts> parts = platform::crackUrl(url);
    if (!parts) {
        diag::recordError(error_, kPlaceConnect, kMessageBadUrl, {kInternetPackage, diag::fromAnsi(url)});
        return false;
    }

    std::int32_t index = domains.currentIndex();
    if (!baseUrl && (index < 0 || static_cast<std::size_t>(index) >= domainCount)) index = 0;
    const std::size_t attempts = baseUrl ? 1 : domainCount;

    for (std::size_t a = 0; a < attempts; ++a) {
        if (a >= 1) {
            index = static_cast<std::size_t>(index) < domainCount - 1 ? index + 1 : 0;
            resetConnection();
        }

        Target target;
        if (baseUrl) {
            std::optional<platform::UrlParts> base = platform::crackUrl(*baseUrl);
            if (base && base->host.size() > kMaxHostLength) {
                platform::setLastError(platform::kInternetInvalidUrl);
                base.reset();
            }
            if (!base) {
                diag::recordError(error_, kPlaceRequest, kMessageBadUrl, {kInternetPackage, diag::fromAnsi(*baseUrl)});
                return false;
            }
            target = {base->scheme, base->host, base->port, base->secure};
        } else {
            std::optional<PkiDomainEntry> entry = domains.entry(static_cast<std::size_t>(index));
            if (!entry) {
                // The list was replaced by a shorter one meanwhile: go on from its start.
                index = 0;
                entry = domains.entry(0);
            }
            if (!entry) {
                diag::recordErrorCode(error_, 0, kPlaceOpen, kMessageText, {kNoDomains});
                return false;
            }
            target = {entry->scheme, entry->host, entry->port, isHttps(entry->scheme)};
        }

        if (const std::optional<bool> decided = attempt(url, parts->pathAndQuery, target)) return *decided;
        if (!errorPending()) break;
    }

    if (errorPending()) return false;
    // A fetch from a given base URL talked to no domain and moves nothing.
    if (!baseUrl && index != domains.currentIndex()) domains.exchangeCurrentIndex(index);
    return true;
}

std::optional<bool> PkiClient::attempt(std::string_view url, std::string_view pathAndQuery, const Target& target) {
    const std::string fullUrl = platform::composeUrl(target.scheme, target.host, target.port, pathAndQuery);
    const std::u16string fullUrlText = diag::fromAnsi(fullUrl);

    internet_ = platform::InternetSession::open(kAgent);
    if (!internet_) {
        diag::recordError(error_, kPlaceOpen, kMessageInitFailed, {kInternetPackage});
        return std::nullopt;
    }
    connection_ = platform::HttpConnection::connect(*internet_, target.host, target.port);
    if (!connection_) {
        diag::recordError(error_, kPlaceConnect, kMessageInitFailed, {kInternetPackage});
        return std::nullopt;
    }

    struct OptionSetting {
        platform::ConnectionOption option;
        std::uint32_t value;
        std::u16string_view failure;
    };
    const platform::HttpLimits limits = platform::configuredHttpLimits();
    const OptionSetting settings[] = {
        {platform::ConnectionOption::Utf8CodePage, 65001, u"INTERNET_OPTION_CODEPAGE_EXTRA UTF8 nustatymo klaida %d"},
        {platform::ConnectionOption::ConnectTimeout, kTimeoutMs, u"INTERNET_OPTION_CONNECT_TIMEOUT nustatymo klaida %d"},
        {platform::ConnectionOption::SendTimeout, kTimeoutMs, u"INTERNET_OPTION_SEND_TIMEOUT nustatymo klaida %d"},
        {platform::ConnectionOption::ReceiveTimeout, kTimeoutMs, u"INTERNET_OPTION_RECEIVE_TIMEOUT nustatymo klaida %d"},
        {platform::ConnectionOption::Deadline, limits.deadlineMs, u"HTTP užklausos trukmės ribos nustatymo klaida %d"},
        {platform::ConnectionOption::MaxAnswerBytes, limits.maxAnswerBytes,
         u"HTTP atsakymo dydžio ribos nustatymo klaida %d"},
    };
    for (const OptionSetting& setting : settings) {
        if (!connection_->setOption(setting.option, setting.value)) {
            diag::traceGlobal(setting.failure, {platform::lastError()});
        }
    }

    diag::traceGlobal(u"Vykdomas TrevCert kreipinys adresu \"%s\"", {fullUrlText});

    request_ = platform::HttpRequest::open(*connection_, pathAndQuery, target.secure);
    if (!request_) {
        const std::uint32_t osError = platform::lastError();
        diag::recordError(error_, kPlaceRequest, kMessageInitFailed, {kInternetPackage});
        diag::traceGlobal(u"Nesėkmingas bandymas prisijungti adresu \"%s\" - %d", {fullUrlText, osError});
        return std::nullopt;
    }

    body_.clear();
    BodyReader reader(body_);
    platform::SendOutcome outcome = request_->send(reader);
    if (outcome == platform::SendOutcome::NotSent) {
        const std::uint32_t osError = platform::lastError();
        if (osError == platform::kInternetClientCertificateNeeded && !answeringDemand_) {
            // Either an authenticated send got an answer, checked below like
            // any other, or the procedure has the whole call's result.
            if (const std::optional<bool> result = answerCertificateDemand(url, reader, outcome)) return result;
        } else {
            diag::recordError(error_, kPlaceRequest, kMessageUnreachable, {fullUrlText});
            diag::traceGlobal(u"TrevCert nepasiekia tinklapio adresu \"%s\" - %d", {fullUrlText, osError});
            diag::traceGlobal(u"%s", {error_.text.utf16()});
            return std::nullopt;
        }
    }

    const std::uint32_t status = request_->statusCode().value_or(0);
    if (status != kStatusOk) {
        diag::recordErrorCode(error_, 0, kPlaceStatus, kMessageBadStatus, {fullUrlText, status});
        diag::traceGlobal(
            u"TrevCert kreipinys adresu \"%s\" grąžina neleistiną HTTP atsako kodą: %d; tinklapio turinys neskaitomas",
            {fullUrlText, status});
        return std::nullopt;
    }

    if (outcome == platform::SendOutcome::BodyFailed) {
        const std::uint32_t osError = platform::lastError();
        diag::recordError(error_, kPlaceRead, kMessageReadFailed, {kInternetPackage, fullUrlText});
        diag::traceGlobal(u"TrevCert duomenų gavimo kreipiantis adresu \"%s\" klaida: %d", {fullUrlText, osError});
    }
    return std::nullopt;
}

}  // namespace tessal::pki
