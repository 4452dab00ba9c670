#include "platform/http_transport.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>

#include "platform/config.h"
#include "platform/curl_library.h"
#include "platform/last_error.h"
#include "platform/token_tls_key.h"
#include "platform/trap_released_lock.h"

namespace tessal::platform {

namespace {

constexpr std::string_view kAcceptHeader = "Accept: text/plain, */*";
constexpr long kMaxRedirects = 10;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::uint16_t defaultPort(bool secure) { return secure ? 443 : 80; }

// The path and query as they go on the wire: bytes that may not stand in a
// request line are escaped, and '#' is part of the key, not a fragment.
std::string wireText(std::string_view pathAndQuery) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(pathAndQuery.size());
    for (char c : pathAndQuery) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '#') {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::uint32_t internetCodeOf(CURLcode result) {
    switch (result) {
        case CURLE_OPERATION_TIMEDOUT: return kInternetTimeout;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return kInternetNameNotResolved;
        case CURLE_COULDNT_CONNECT: return kInternetCannotConnect;
        case CURLE_URL_MALFORMAT: return kInternetInvalidUrl;
        case CURLE_UNSUPPORTED_PROTOCOL: return kInternetUnrecognisedScheme;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE: return kInternetConnectionAborted;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_BAD_CONTENT_ENCODING: return kInternetInvalidServerResponse;
        case CURLE_TOO_MANY_REDIRECTS: return kInternetRedirectFailed;
        case CURLE_PEER_FAILED_VERIFICATION: return kInternetInvalidCa;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_INITFAILED: return kInternetSecureChannelError;
        case CURLE_OUT_OF_MEMORY: return kInternetOutOfHandles;
        default: return kInternetInternalError;
    }
}

int clientCertificateIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

TrapReleasedMutex caFileLock;
std::optional<std::string> caFileOverride;

std::optional<std::string> trustedCaFileOverride() {
    std::lock_guard guard(caFileLock);
    return caFileOverride;
}

// The administrator's file of further authorities trusted for https servers.
std::string extraCaFile() {
    std::optional<std::string> path = configValue(kPlatformSection, "caFile");
    return path ? std::move(*path) : std::string();
}

}  // namespace

void setTrustedCaFileForTesting(std::optional<std::string> path) {
    std::lock_guard guard(caFileLock);
    caFileOverride = std::move(path);
}

std::string composeUrl(std::string_view scheme, std::string_view host, std::uint16_t port,
                       std::string_view pathAndQuery) {
    std::string url(scheme);
    url += "://";
    url += host;
    if (port != defaultPort(equalsIgnoringCase(scheme, "https"))) {
        url += ':';
        url += std::to_string(port);
    }
    url += pathAndQuery;
    return url;
}

std::unique_ptr<InternetSession> InternetSession::open(std::string_view agent) {
    // The library is opened here, by the first request, and not before.
    if (!curlLibrary()) {
        setLastError(kInternetOutOfHandles);
        return nullptr;
    }
    return std::unique_ptr<InternetSession>(new InternetSession(std::string(agent)));
}

std::unique_ptr<HttpConnection> HttpConnection::connect(const InternetSession& session, std::string_view host,
                                                        std::uint16_t port) {
    if (host.empty()) {
        setLastError(kInternetInvalidUrl);
        return nullptr;
    }
    return std::unique_ptr<HttpConnection>(new HttpConnection(session.agent(), std::string(host), port));
}

bool HttpConnection::setOption(ConnectionOption option, std::uint32_t value) {
    switch (option) {
        case ConnectionOption::Utf8CodePage:
            // Request lines and header texts are bytes here; nothing to convert.
            return true;
        case ConnectionOption::ConnectTimeout: connectTimeoutMs_ = value; return true;
        case ConnectionOption::SendTimeout: sendTimeoutMs_ = value; return true;
        case ConnectionOption::ReceiveTimeout: receiveTimeoutMs_ = value; return true;
        case ConnectionOption::Deadline: deadlineMs_ = value; return true;
        case ConnectionOption::MaxAnswerBytes: maxAnswerBytes_ = value; return true;
    }
    setLastError(kInternetInternalError);
    return false;
}

struct HttpRequest::Handle {
    const CurlLibrary& lib;
    CURL* curl = nullptr;
    curl_slist* headers = nullptr;
    std::string url;
    ResponseReader* reader = nullptr;
    bool asked = false;
    bool bodyWanted = false;
    bool readerFailed = false;
    bool tooLarge = false;
    curl_off_t maxAnswerBytes = 0;  // 0: no limit
    curl_off_t bodyBytes = 0;
    bool certificateDemanded = false;
    std::unique_ptr<TokenTlsIdentity> identity;  // presented when a server demands a certificate
    std::string extraCaFile;
    bool stalled = false;
    std::chrono::milliseconds stallLimit{0};
    bool connected = false;
    curl_off_t moved = 0;
    std::chrono::steady_clock::time_point lastActivity;

    explicit Handle(const CurlLibrary& library) : lib(library) {}
    ~Handle() {
        if (curl) lib.easyCleanup(curl);
        if (headers) lib.slistFreeAll(headers);
    }

    static int onClientCertificate(SSL* ssl, X509**, EVP_PKEY**) {
        auto* self = static_cast<Handle*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), clientCertificateIndex()));
        if (self) self->certificateDemanded = true;
        return 0;  // present nothing; the caller decides what to do about the demand
    }

    // Called for every new connection, before its handshake.
    static CURLcode onSslContext(CURL*, void* context, void* userdata) {
        auto* ctx = static_cast<SSL_CTX*>(context);
        auto* self = static_cast<Handle*>(userdata);
        SSL_CTX_set_ex_data(ctx, clientCertificateIndex(), self);
        SSL_CTX_set_client_cert_cb(ctx, &Handle::onClientCertificate);
        // A server certificate outside its validity dates is accepted.
        X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(ctx), X509_V_FLAG_NO_CHECK_TIME);
        if (!self->extraCaFile.empty() &&
            X509_STORE_load_file(SSL_CTX_get_cert_store(ctx), self->extraCaFile.c_str()) != 1) {
            ERR_clear_error();
            return CURLE_SSL_CACERT_BADFILE;
        }
        // With an identity installed the callback above is not asked: the
        // certificate goes to any server that demands one.
        if (self->identity && !self->identity->installInto(ctx)) return CURLE_SSL_CERTPROBLEM;
        return CURLE_OK;
    }

    static int onProgress(void* userdata, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
        auto* self = static_cast<Handle*>(userdata);
        const auto now = std::chrono::steady_clock::now();
        if (!self->connected) {
            curl_off_t connectTime = 0;
            self->lib.easyGetinfo(self->curl, CURLINFO_CONNECT_TIME_T, &connectTime);
            if (connectTime <= 0) return 0;  // the connect limit applies until then
            self->connected = true;
            self->lastActivity = now;
        }
        if (received + sent != self->moved) {
            self->moved = received + sent;
            self->lastActivity = now;
        } else if (self->stallLimit.count() > 0 && now - self->lastActivity > self->stallLimit) {
            self->stalled = true;
            return 1;
        }
        return 0;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* userdata) {
        auto* self = static_cast<Handle*>(userdata);
        const size_t total = size * count;
        if (!self->asked) {
            self->asked = true;
            long status = 0;
            self->lib.easyGetinfo(self->curl, CURLINFO_RESPONSE_CODE, &status);
            self->bodyWanted = self->reader->wantsBody(static_cast<std::uint32_t>(status));
            // An announced length over the limit is refused before any of it is kept.
            curl_off_t announced = -1;
            if (self->bodyWanted && self->maxAnswerBytes > 0 &&
                self->lib.easyGetinfo(self->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
                announced > self->maxAnswerBytes) {
                self->tooLarge = true;
                return 0;
            }
        }
        if (!self->bodyWanted) return 0;  // stops the transfer; its body stays unread
        if (self->maxAnswerBytes > 0 && static_cast<curl_off_t>(total) > self->maxAnswerBytes - self->bodyBytes) {
            self->tooLarge = true;
            return 0;
        }
        self->bodyBytes += static_cast<curl_off_t>(total);
        for (size_t done = 0; done < total;) {
            const size_t piece = std::min(kBodyChunkSize, total - done);
            if (!self->reader->chunk(data + done, piece)) {
                self->readerFailed = true;
                return 0;
            }
            done += piece;
        }
        return total;
    }
};

HttpRequest::HttpRequest(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
HttpRequest::~HttpRequest() = default;

std::unique_ptr<HttpRequest> HttpRequest::open(const HttpConnection& connection, std::string_view pathAndQuery,
                                               bool secure) {
    const CurlLibrary* library = curlLibrary();
    if (!library) {
        setLastError(kInternetOutOfHandles);
        return nullptr;
    }
    auto handle = std::make_unique<Handle>(*library);
    handle->curl = library->easyInit();
    if (!handle->curl) {
        setLastError(kInternetOutOfHandles);
        return nullptr;
    }
    handle->url = composeUrl(secure ? "https" : "http", connection.host(), connection.port(), wireText(pathAndQuery));
    for (const char* header : {kAcceptHeader.data(), "Cache-Control: no-cache", "Pragma: no-cache"}) {
        curl_slist* extended = library->slistAppend(handle->headers, header);
        if (!extended) {
            setLastError(kInternetOutOfHandles);
            return nullptr;
        }
        handle->headers = extended;
    }

    // Once connected, waiting for data in either direction is limited to the
    // longer of the send and receive limits.
    const std::uint32_t stallMs = std::max(connection.sendTimeoutMs(), connection.receiveTimeoutMs());
    CURL* c = handle->curl;
    CURLcode result = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) result = library->easySetopt(c, option, value);
    };
    set(CURLOPT_URL, handle->url.c_str());
    set(CURLOPT_USERAGENT, connection.agent().c_str());
    set(CURLOPT_HTTPHEADER, handle->headers);
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    set(CURLOPT_BUFFERSIZE, static_cast<long>(kBodyChunkSize));
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connection.connectTimeoutMs()));
    // A wait without data is cut by the stall limit below; a server that
    // keeps trickling data is cut by this deadline.
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(connection.deadlineMs()));
    handle->maxAnswerBytes = static_cast<curl_off_t>(connection.maxAnswerBytes());
    handle->stallLimit = std::chrono::milliseconds(stallMs);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &Handle::onProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(handle.get()));
    if (const std::optional<std::string> caFile = trustedCaFileOverride()) {
        set(CURLOPT_CAINFO, caFile->c_str());
    } else {
        handle->extraCaFile = extraCaFile();
    }
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 0L);  // a server certificate naming another host is accepted
    set(CURLOPT_SSL_CTX_FUNCTION, &Handle::onSslContext);
    set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(handle.get()));
    set(CURLOPT_WRITEFUNCTION, &Handle::onBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(handle.get()));
    if (result != CURLE_OK) {
        setLastError(internetCodeOf(result));
        return nullptr;
    }
    return std::unique_ptr<HttpRequest>(new HttpRequest(std::move(handle)));
}

bool HttpRequest::presentCredential(const ClientCredential& credential) {
    std::unique_ptr<TokenTlsIdentity> identity =
        TokenTlsIdentity::create(credential.certificate, credential.issuers, credential.key);
    if (!identity) return false;
    handle_->identity = std::move(identity);
    // A connection kept from an earlier send was opened without it.
    handle_->lib.easySetopt(handle_->curl, CURLOPT_FRESH_CONNECT, 1L);
    return true;
}

SendOutcome HttpRequest::send(ResponseReader& reader) {
    Handle& h = *handle_;
    h.reader = &reader;
    h.asked = h.bodyWanted = h.readerFailed = h.tooLarge = h.certificateDemanded = h.stalled = h.connected = false;
    h.moved = 0;
    h.bodyBytes = 0;
    status_.reset();

    const CURLcode result = h.lib.easyPerform(h.curl);
    h.reader = nullptr;
    long status = 0;
    if (h.lib.easyGetinfo(h.curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status > 0) {
        status_ = static_cast<std::uint32_t>(status);
    }

    if (result == CURLE_OK) return SendOutcome::Answered;
    if (h.readerFailed || h.tooLarge) {
        setLastError(h.readerFailed ? kNotEnoughMemory : kAnswerTooLarge);
        return SendOutcome::BodyFailed;
    }
    if (result == CURLE_WRITE_ERROR && h.asked && !h.bodyWanted) return SendOutcome::Answered;
    const std::uint32_t code = h.stalled ? kInternetTimeout : internetCodeOf(result);
    if (h.bodyWanted) {
        setLastError(code);
        return SendOutcome::BodyFailed;
    }
    status_.reset();
    // Without a certificate the handshake fails in different ways depending
    // on the protocol version; the demand itself is what counts.
    setLastError(h.certificateDemanded ? kInternetClientCertificateNeeded : code);
    return SendOutcome::NotSent;
}

}  // namespace tessal::platform
