#pragma once
// One HTTP GET at a time over libcurl, in the three stages the PKI client
// works in: an Internet session (the agent), a connection (host, port and its
// time limits) and a request (path and query) that is sent once or more.
//
// Every request is sent with the session's agent and the accept types
// "text/plain" and "*/*", is never served from or written to a cache, keeps
// no cookies and follows redirects (between http and https too). For https a
// server certificate whose dates or host name do not match is accepted; one
// from an unknown authority is not.
//
// Failures put an internet error code (12001..12175) into the thread's last
// error: 12002 time-out, 12005 malformed URL, 12006 unsupported scheme, 12007
// name not resolved, 12029 cannot connect, 12030 connection ended, 12044 the
// server demands a client certificate, 12045 untrusted server certificate,
// 12152 unreadable answer, 12156 redirect failed, 12157 secure channel error,
// 12004 anything else; kAnswerTooLarge for a body over the connection's limit.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system_messages.h"
#include "platform/x509.h"

namespace tessal::platform {

class RsaPrivateOperation;
class TokenTlsIdentity;

inline constexpr std::uint32_t kInternetOutOfHandles = 12001;
inline constexpr std::uint32_t kInternetTimeout = 12002;
inline constexpr std::uint32_t kInternetInternalError = 12004;
inline constexpr std::uint32_t kInternetInvalidUrl = 12005;
inline constexpr std::uint32_t kInternetUnrecognisedScheme = 12006;
inline constexpr std::uint32_t kInternetNameNotResolved = 12007;
inline constexpr std::uint32_t kInternetCannotConnect = 12029;
inline constexpr std::uint32_t kInternetConnectionAborted = 12030;
inline constexpr std::uint32_t kInternetClientCertificateNeeded = 12044;
inline constexpr std::uint32_t kInternetInvalidCa = 12045;
inline constexpr std::uint32_t kInternetInvalidServerResponse = 12152;
inline constexpr std::uint32_t kInternetRedirectFailed = 12156;
inline constexpr std::uint32_t kInternetSecureChannelError = 12157;
// Not internet codes: the reader could not keep a chunk (ENOMEM), and the
// answer's body is larger than the connection allows (curl's own code).
inline constexpr std::uint32_t kNotEnoughMemory = 12;
inline constexpr std::uint32_t kAnswerTooLarge = kCurlCodeBase + 63;

// The largest chunk of a body handed to a reader at once.
inline constexpr std::size_t kBodyChunkSize = 10240;

struct UrlParts {
    std::string scheme;        // in lower case: "http" or "https"
    std::string host;
    std::uint16_t port = 0;    // the scheme's port when the URL names none
    bool secure = false;       // scheme is https
    std::string pathAndQuery;  // "/" when the URL has no path
};

// Splits an absolute http or https URL as libcurl would, without loading it
// (url_split.cpp); text after a NUL is ignored. Nothing, with 12006 (another
// scheme) or 12005 (anything else malformed) in the last error, when it cannot.
std::optional<UrlParts> crackUrl(std::string_view url);

// scheme "://" host [":" port unless the scheme's own] pathAndQuery.
std::string composeUrl(std::string_view scheme, std::string_view host, std::uint16_t port,
                       std::string_view pathAndQuery);

class InternetSession {
public:
    // Opens libcurl if no request has yet. Nothing, with 12001 in the last
    // error, when the library cannot be opened or cannot start.
    static std::unique_ptr<InternetSession> open(std::string_view agent);
    const std::string& agent() const { return agent_; }

private:
    explicit InternetSession(std::string agent) : agent_(std::move(agent)) {}
    std::string agent_;
};

// Deadline: milliseconds one request may take from start to the end of its
// body, redirects included. MaxAnswerBytes: the largest body read.
enum class ConnectionOption { Utf8CodePage, ConnectTimeout, SendTimeout, ReceiveTimeout, Deadline, MaxAnswerBytes };

class HttpConnection {
public:
    // Nothing, with 12005 in the last error, for an empty host.
    static std::unique_ptr<HttpConnection> connect(const InternetSession& session, std::string_view host,
                                                   std::uint16_t port);
    // Times are milliseconds, sizes bytes; 0 means no limit. Answers false with the code
    // in the last error when the value cannot be taken.
    bool setOption(ConnectionOption option, std::uint32_t value);

    const std::string& agent() const { return agent_; }
    const std::string& host() const { return host_; }
    std::uint16_t port() const { return port_; }
    std::uint32_t connectTimeoutMs() const { return connectTimeoutMs_; }
    std::uint32_t sendTimeoutMs() const { return sendTimeoutMs_; }
    std::uint32_t receiveTimeoutMs() const { return receiveTimeoutMs_; }
    std::uint32_t deadlineMs() const { return deadlineMs_; }
    std::uint32_t maxAnswerBytes() const { return maxAnswerBytes_; }

private:
    HttpConnection(std::string agent, std::string host, std::uint16_t port)
        : agent_(std::move(agent)), host_(std::move(host)), port_(port) {}
    std::string agent_;
    std::string host_;
    std::uint16_t port_;
    std::uint32_t connectTimeoutMs_ = 0;
    std::uint32_t sendTimeoutMs_ = 0;
    std::uint32_t receiveTimeoutMs_ = 0;
    std::uint32_t deadlineMs_ = 0;
    std::uint32_t maxAnswerBytes_ = 0;
};

// Receives the final answer of a request.
class ResponseReader {
public:
    virtual ~ResponseReader() = default;
    // Called once the final answer's status is known; false leaves its body unread.
    virtual bool wantsBody(std::uint32_t status) = 0;
    // One chunk of at most kBodyChunkSize bytes; false when it cannot be kept.
    virtual bool chunk(const char* data, std::size_t size) = 0;
};

// What a client presents when a server demands a certificate: the DER
// certificate, its issuers (nearest first) and the private operation of its key.
struct ClientCredential {
    ByteBlock certificate;
    std::vector<ByteBlock> issuers;
    std::shared_ptr<RsaPrivateOperation> key;
};

enum class SendOutcome {
    NotSent,     // no answer: the last error says why (12044 for a client-certificate demand)
    Answered,    // an answer arrived; its body was read whole when the reader wanted it
    BodyFailed,  // the body broke off while being read: the last error says why
};

class HttpRequest {
public:
    ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // Nothing, with the code in the last error, when the request cannot be prepared.
    static std::unique_ptr<HttpRequest> open(const HttpConnection& connection, std::string_view pathAndQuery,
                                             bool secure);

    // Presents `credential` in the handshakes of the following sends. False,
    // with the code in the last error, when the certificate or its key
    // cannot be used (see TokenTlsIdentity::create).
    bool presentCredential(const ClientCredential& credential);

    SendOutcome send(ResponseReader& reader);
    // The status of the last answer; nothing before one arrived.
    std::optional<std::uint32_t> statusCode() const { return status_; }

private:
    struct Handle;
    explicit HttpRequest(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
    std::optional<std::uint32_t> status_;
};

// Server certificates of https are trusted when an authority of the
// system's or of the file `[platform] caFile` names issued them.
//
// Test seam: server certificates are checked against this file instead of
// the system's authorities; nothing restores the system's.
void setTrustedCaFileForTesting(std::optional<std::string> path);

}  // namespace tessal::platform
