#pragma once
// The client of the certificate web service: one GET per call, sent to the
// current PKI domain first and to the others in turn, with the answer's body
// kept. Failures are recorded in the client's error record and answered with
// false; a client with a pending error refuses every later call.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/error_record.h"
#include "pki/query_kind.h"

namespace tessal::platform {
enum class SendOutcome;
class ResponseReader;
class InternetSession;
class HttpConnection;
class HttpRequest;
}  // namespace tessal::platform

namespace tessal::pki {

// A growable byte buffer. Appending grows the storage, when it is too small,
// to twice its size or the new length if that is more; emptying keeps the
// storage.
class ResponseBody {
public:
    ResponseBody() = default;
    ResponseBody(const ResponseBody&) = delete;
    ResponseBody& operator=(const ResponseBody&) = delete;

    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    std::string_view view() const { return {data_.get(), size_}; }

    // False, with nothing changed, when the storage cannot grow.
    bool append(const char* bytes, std::size_t count);
    void clear() { size_ = 0; }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

class PkiSource {
public:
    virtual ~PkiSource();
    virtual bool request(std::optional<std::string_view> key, PkiQueryKind kind) = 0;
    virtual bool fetch(std::string_view url, std::optional<std::string_view> baseUrl) = 0;

    const diag::ErrorRecord& error() const { return error_; }
    diag::ErrorRecord& error() { return error_; }
    const ResponseBody& body() const { return body_; }

protected:
    bool errorPending() const { return error_.lastError != 0 || error_.code != 0; }

    diag::ErrorRecord error_;
    ResponseBody body_;
};

class PkiClient : public PkiSource {
public:
    PkiClient();
    ~PkiClient() override;
    PkiClient(const PkiClient&) = delete;
    PkiClient& operator=(const PkiClient&) = delete;

    // Builds the endpoint URL of `kind` for `key` and fetches it from the domains.
    bool request(std::optional<std::string_view> key, PkiQueryKind kind) override;
    // Fetches the path and query of `url`: from `baseUrl`'s host when one is
    // given (one attempt), otherwise from the PKI domains.
    bool fetch(std::string_view url, std::optional<std::string_view> baseUrl) override;

    // Clears the error codes (the text stays) and closes the request, the
    // connection and the session, in this order.
    void resetConnection();

private:
    struct Target;
    class BodyReader;
    // One attempt against one target. Nothing when the attempt has run its
    // course (the error record tells whether it failed); a value when it
    // decided the outcome of the whole call.
    std::optional<bool> attempt(std::string_view url, std::string_view pathAndQuery, const Target& target);
    // A server demanded a client certificate on the open request: presents
    // the selected signer's, sending again up to kAuthenticatedSends times.
    // Nothing when a send got an answer (in `outcome`, its body given to
    // `reader`); otherwise the result of fetching `url` from the public host.
    std::optional<bool> answerCertificateDemand(std::string_view url, platform::ResponseReader& reader,
                                                platform::SendOutcome& outcome);
    bool fetchFromPublicHost(std::string_view url, const std::string& host);

    // Set while the public host is asked in place of a server that demanded
    // a client certificate; a demand met on that way is an ordinary failure.
    bool answeringDemand_ = false;
    std::unique_ptr<platform::InternetSession> internet_;
    std::unique_ptr<platform::HttpConnection> connection_;
    std::unique_ptr<platform::HttpRequest> request_;
};

// The public host ("host" or "host:port") that is asked over plain http
// when a server demands a client certificate that cannot be presented:
// `[platform] publicHost`, else the one built in.
std::string fallbackHost();
// Its plain-http base URL.
std::string fallbackBaseUrl();

// Test seam: replaces the public host, the configured one too, until it is
// called with nothing.
void setFallbackHostForTesting(std::optional<std::string> host);

}  // namespace tessal::pki
