#include "pki/pki_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log_file.h"
#include "pki/client_identity.h"
#include "pki/domain_list.h"
#include "pki/request_url.h"
#include "platform/http_transport.h"
#include "platform/last_error.h"
#include "support/test_support.h"

namespace tessal::pki {
namespace {

using namespace std::chrono_literals;

// A loopback HTTP service on a port of its own, run as a python3 process by
// its id, that writes one line per request: the target and the headers
// User-Agent, Accept, Pragma, Cache-Control and Cookie, tab-separated.
constexpr const char* kServiceScript = R"PY(
import sys, time, threading, http.server
name, log, statusFile = sys.argv[1], sys.argv[2], sys.argv[3]
lock = threading.Lock()
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    def log_message(self, *args):
        pass
    def answer(self, status, body, kind='text/plain'):
        self.send_response(status)
        self.send_header('Content-Type', kind)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def do_GET(self):
        target = self.path
        with lock:
            with open(log, 'a') as f:
                f.write('\t'.join([target] + [self.headers.get(h, '') for h in
                        ('User-Agent', 'Accept', 'Pragma', 'Cache-Control', 'Cookie')]) + '\n')
        try:
            setting = open(statusFile).read().split()
        except Exception:
            setting = ['200']
        status = int(setting[0])
        path = target.split('?', 1)[0]
        if path == '/pki/empty':
            self.answer(200, b'')
        elif path == '/pki/big':
            self.answer(200, bytes((i * 7) % 251 for i in range(100000)), 'application/octet-stream')
        elif path == '/pki/redirect':
            self.send_response(302)
            self.send_header('Location', '/pki/time?after')
            self.send_header('Content-Length', '0')
            self.end_headers()
        elif path == '/pki/silent':
            time.sleep(10)
            self.answer(200, b'late')
        elif path == '/pki/stalling':
            self.send_response(200)
            self.send_header('Content-Length', '100')
            self.end_headers()
            self.wfile.write(b'first part')
            self.wfile.flush()
            time.sleep(10)
        elif status == 302:
            self.send_response(302)
            self.send_header('Location', setting[1] + target)
            self.send_header('Content-Length', '0')
            self.end_headers()
        elif status != 200:
            self.answer(status, ('error page of ' + name).encode())
        else:
            self.answer(200, (name + ' answers ' + target).encode())
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
)PY";

struct RequestLine {
    std::string target, agent, accept, pragma, cacheControl, cookie;
};

class TestService {
public:
    explicit TestService(std::string name) : name_(std::move(name)) {
        log_ = dir_.file("requests.log");
        status_ = dir_.file("status");
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::freopen("/dev/null", "w", stderr);
            ::close(out[0]);
            ::close(out[1]);
            ::execlp("python3", "python3", "-c", kServiceScript, name_.c_str(), log_.c_str(), status_.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        port_ = static_cast<std::uint16_t>(std::atoi(line.c_str()));
    }
    ~TestService() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    std::uint16_t port() const { return port_; }
    std::vector<RequestLine> lines() const {
        std::vector<RequestLine> result;
        if (!std::filesystem::exists(log_)) return result;
        std::istringstream in(test::readWholeFile(log_));
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> fields;
            std::istringstream parts(line);
            for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
            fields.resize(6);
            result.push_back({fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]});
        }
        return result;
    }
    int requests() const { return static_cast<int>(lines().size()); }
    std::vector<std::string> targets() const {
        std::vector<std::string> result;
        for (const RequestLine& line : lines()) result.push_back(line.target);
        return result;
    }
    // Every path not otherwise known answers with this status.
    void setDefaultStatus(int status) { test::writeWholeFile(status_, std::to_string(status)); }
    // Every path not otherwise known is redirected to the same target under `base`.
    void redirectTo(const std::string& base) { test::writeWholeFile(status_, "302 " + base); }

private:
    std::string name_;
    test::TempDir dir_;
    std::string log_;
    std::string status_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

// A loopback port on which nothing listens.
std::uint16_t closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// The three host texts all reach 127.0.0.1 but count as different domains.
constexpr const char* kHostA = "127.0.0.1";
constexpr const char* kHostB = "localhost";
constexpr const char* kHostC = "127.1";

class PkiClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetDomainsForTesting();
        diag::setGlobalLogPathForTesting(log_.file("global.log"));
    }
    void TearDown() override {
        diag::setGlobalLogPathForTesting("");
        resetDomainsForTesting();
        setFallbackHostForTesting(std::nullopt);
        platform::setTrustedCaFileForTesting(std::nullopt);
    }

    static void addDomain(const char* host, std::uint16_t port, const char* scheme = "http") {
        pkiDomainList().append({scheme, host, port});
    }
    std::string log() const {
        const std::string path = log_.file("global.log");
        return std::filesystem::exists(path) ? test::readWholeFile(path) : std::string();
    }
    static std::string url(const char* path) { return std::string(kTemplateUrl) + path; }

    test::TempDir log_;
};

// ---------------------------------------------------------------- body

TEST(ResponseBody, GrowsByDoublingAndKeepsStorageWhenEmptied) {
    ResponseBody body;
    EXPECT_EQ(body.size(), 0u);
    EXPECT_TRUE(body.append("abc", 3));
    EXPECT_EQ(body.capacity(), 3u);
    EXPECT_TRUE(body.append("defgh", 5));
    EXPECT_EQ(body.capacity(), 8u);  // the new length, being more than twice 3
    EXPECT_EQ(body.view(), "abcdefgh");
    body.clear();
    EXPECT_EQ(body.size(), 0u);
    EXPECT_EQ(body.capacity(), 8u);
    EXPECT_TRUE(body.append("xy", 2));
    EXPECT_EQ(body.capacity(), 8u);
    EXPECT_EQ(body.view(), "xy");
    EXPECT_TRUE(body.append(nullptr, 0));
    EXPECT_EQ(body.view(), "xy");
    EXPECT_TRUE(body.append("123456789", 9));
    EXPECT_EQ(body.capacity(), 16u);
    EXPECT_EQ(body.view(), "xy123456789");

    // Byte by byte, a megabyte moves the storage about twenty times, not a million.
    ResponseBody trickled;
    int moves = 0;
    for (int i = 0; i < (1 << 20); ++i) {
        const std::size_t before = trickled.capacity();
        ASSERT_TRUE(trickled.append("z", 1));
        if (trickled.capacity() != before) ++moves;
    }
    EXPECT_EQ(trickled.size(), std::size_t{1} << 20);
    EXPECT_LE(moves, 21);
}

// ---------------------------------------------------------------- answers

TEST_F(PkiClientTest, EmptyDomainListFailsWithoutConnecting) {
    PkiClient client;
    EXPECT_FALSE(client.request("AB", CertByHash));
    EXPECT_EQ(client.error().code, diag::errorCode(3001, 91));
    EXPECT_EQ(client.error().text.str(),
              "Nenustatyti viešojo rakto infrastruktūros objektų pasiekiamumo adresai (nustatomi pagal interneto "
              "naršyklės prisijungimo adresą arba Registry šakoje \"defaultPkiDomain\" nurodytus interneto adresus) : "
              "73001091;\r\n");
    EXPECT_EQ(log().find("Vykdomas"), std::string::npos);
}

TEST_F(PkiClientTest, RequestReachesTheCurrentDomainWithPathQueryAndFixedHeaders) {
    TestService a("A");
    addDomain(kHostA, a.port());
    PkiClient client;
    ASSERT_TRUE(client.request("0A1B", CertByHash)) << client.error().text.str();
    EXPECT_EQ(client.body().view(), "A answers /pki/cert/?hex&0A1B");
    EXPECT_EQ(client.error().code, 0);
    EXPECT_TRUE(client.error().text.empty());
    EXPECT_EQ(a.targets(), std::vector<std::string>{"/pki/cert/?hex&0A1B"});

    const std::vector<RequestLine> lines = a.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].agent, "TrevCert");
    EXPECT_NE(lines[0].accept.find("text/plain"), std::string::npos);
    EXPECT_NE(lines[0].accept.find("*/*"), std::string::npos);
    EXPECT_EQ(lines[0].pragma, "no-cache");
    EXPECT_EQ(lines[0].cacheControl, "no-cache");
    EXPECT_EQ(lines[0].cookie, "");

    const std::string expected =
        "Vykdomas TrevCert kreipinys adresu \"http://127.0.0.1:" + std::to_string(a.port()) + "/pki/cert/?hex&0A1B\"";
    EXPECT_EQ(occurrences(log(), expected), 1u);
}

TEST_F(PkiClientTest, BodiesOfEverySizeAndRedirectsAreRead) {
    TestService a("A");
    addDomain(kHostA, a.port());
    {
        PkiClient client;
        ASSERT_TRUE(client.fetch(url("empty"), std::nullopt));
        EXPECT_EQ(client.body().size(), 0u);
    }
    {
        PkiClient client;
        ASSERT_TRUE(client.fetch(url("big"), std::nullopt));
        ASSERT_EQ(client.body().size(), 100000u);
        // Grown chunk by chunk, doubling: never more than twice the body.
        EXPECT_GE(client.body().capacity(), 100000u);
        EXPECT_LT(client.body().capacity(), 200000u);
        bool same = true;
        for (std::size_t i = 0; i < 100000; ++i) same = same && client.body().data()[i] == static_cast<char>(i * 7 % 251);
        EXPECT_TRUE(same);
    }
    {
        PkiClient client;
        ASSERT_TRUE(client.fetch(url("redirect"), std::nullopt));
        EXPECT_EQ(client.body().view(), "A answers /pki/time?after");
    }
    {
        // Only the path and query of the given URL matter; spaces and '#'
        // travel escaped.
        PkiClient client;
        ASSERT_TRUE(client.fetch("https://elsewhere.example:99/pki/cert/?subject&CN=A B#1", std::nullopt));
        EXPECT_EQ(client.body().view(), "A answers /pki/cert/?subject&CN=A%20B%231");
    }
}

// ---------------------------------------------------------------- domains

TEST_F(PkiClientTest, FailingDomainPassesToTheNextAndTheAnsweringOneBecomesCurrent) {
    TestService a("A"), b("B"), c("C");
    b.setDefaultStatus(404);
    addDomain(kHostA, a.port());
    addDomain(kHostB, b.port());
    addDomain(kHostC, c.port());
    pkiDomainList().exchangeCurrentIndex(1);

    PkiClient client;
    ASSERT_TRUE(client.fetch(url("crl/3.htm"), std::nullopt)) << client.error().text.str();
    EXPECT_EQ(client.body().view(), "C answers /pki/crl/3.htm");
    EXPECT_EQ(a.requests(), 0);
    EXPECT_EQ(b.requests(), 1);
    EXPECT_EQ(c.requests(), 1);
    EXPECT_EQ(pkiDomainList().currentIndex(), 2);
    // The failure on the way stays in the text; the codes are cleared.
    EXPECT_EQ(client.error().code, 0);
    const std::string bUrl = "http://localhost:" + std::to_string(b.port()) + "/pki/crl/3.htm";
    EXPECT_NE(client.error().text.str().find("Kreipinys adresu \"" + bUrl + "\" grąžino neleistiną atsako kodą (404)"),
              std::string::npos);
    EXPECT_EQ(occurrences(log(), "TrevCert kreipinys adresu \"" + bUrl +
                                     "\" grąžina neleistiną HTTP atsako kodą: 404; tinklapio turinys neskaitomas"),
              1u);

    // The next client starts with the domain that answered.
    PkiClient next;
    ASSERT_TRUE(next.fetch(url("again"), std::nullopt));
    EXPECT_EQ(c.requests(), 2);
    EXPECT_EQ(b.requests(), 1);
}

TEST_F(PkiClientTest, WhenEveryDomainFailsTheIndexStaysAndEachFailureIsKeptOnce) {
    TestService b("B"), c("C");
    b.setDefaultStatus(500);
    c.setDefaultStatus(404);
    const std::uint16_t closed = closedPort();
    addDomain(kHostA, closed);
    addDomain(kHostB, b.port());
    addDomain(kHostC, c.port());
    pkiDomainList().exchangeCurrentIndex(1);

    PkiClient client;
    EXPECT_FALSE(client.fetch(url("x"), std::nullopt));
    EXPECT_EQ(pkiDomainList().currentIndex(), 1);
    EXPECT_EQ(b.requests(), 1);
    EXPECT_EQ(c.requests(), 1);

    // Order B, C, A: the codes are those of A, the last.
    const std::string aUrl = "http://127.0.0.1:" + std::to_string(closed) + "/pki/x";
    EXPECT_EQ(client.error().code, diag::errorCode(3003, 26));
    EXPECT_EQ(client.error().lastError, platform::kInternetCannotConnect);
    const std::string& text = client.error().text.str();
    EXPECT_EQ(occurrences(text, "Nepasiekiamas URL \"" + aUrl + "\""), 1u);
    EXPECT_EQ(occurrences(text, "grąžino neleistiną atsako kodą (500)"), 1u);
    EXPECT_EQ(occurrences(text, "grąžino neleistiną atsako kodą (404)"), 1u);
    // Newest first.
    EXPECT_LT(text.find("Nepasiekiamas"), text.find("(404)"));
    EXPECT_LT(text.find("(404)"), text.find("(500)"));
    EXPECT_EQ(occurrences(log(), "TrevCert nepasiekia tinklapio adresu \"" + aUrl + "\" - 12029"), 1u);

    // A failed client refuses every later call, without traffic or traces.
    const std::string logBefore = log();
    const diag::ErrorRecord recordBefore = client.error();
    EXPECT_FALSE(client.fetch(url("x"), std::nullopt));
    EXPECT_FALSE(client.request("AB", CertByHash));
    EXPECT_FALSE(client.fetch(url("x"), "http://127.0.0.1:" + std::to_string(b.port())));
    EXPECT_EQ(b.requests(), 1);
    EXPECT_EQ(c.requests(), 1);
    EXPECT_EQ(log(), logBefore);
    EXPECT_EQ(client.error(), recordBefore);

    // resetConnection clears the codes only; then the client works again.
    client.resetConnection();
    EXPECT_EQ(client.error().code, 0);
    EXPECT_EQ(client.error().lastError, 0u);
    EXPECT_EQ(client.error().text, recordBefore.text);
}

TEST_F(PkiClientTest, AnswersThatDoNotComeInTimeFailTheAttempt) {
    TestService a("A");
    addDomain(kHostA, a.port());
    {
        PkiClient client;
        EXPECT_FALSE(client.fetch(url("silent"), std::nullopt));
        EXPECT_EQ(client.error().code, diag::errorCode(3003, 26));
        EXPECT_EQ(client.error().lastError, platform::kInternetTimeout);
    }
    {
        PkiClient client;
        EXPECT_FALSE(client.fetch(url("stalling"), std::nullopt));
        EXPECT_EQ(client.error().code, diag::errorCode(3004, 27));
        EXPECT_EQ(client.error().lastError, platform::kInternetTimeout);
        const std::string fullUrl = "http://127.0.0.1:" + std::to_string(a.port()) + "/pki/stalling";
        EXPECT_NE(client.error().text.str().find("Interneto funkcijų paketo klaida skaitant duomenis adresu \"" +
                                                 fullUrl + "\""),
                  std::string::npos);
        EXPECT_EQ(occurrences(log(), "TrevCert duomenų gavimo kreipiantis adresu \"" + fullUrl + "\" klaida: 12002"),
                  1u);
    }
}

// ---------------------------------------------------------------- base URL

TEST_F(PkiClientTest, BaseUrlIsOneAttemptThatMovesNoIndex) {
    TestService a("A"), b("B");
    addDomain(kHostA, a.port());
    addDomain(kHostB, a.port());
    pkiDomainList().exchangeCurrentIndex(1);
    {
        PkiClient client;
        ASSERT_TRUE(client.fetch(url("t"), "http://127.0.0.1:" + std::to_string(b.port())));
        EXPECT_EQ(client.body().view(), "B answers /pki/t");
        EXPECT_EQ(a.requests(), 0);
        EXPECT_EQ(pkiDomainList().currentIndex(), 1);
    }
    {
        b.setDefaultStatus(500);
        PkiClient client;
        EXPECT_FALSE(client.fetch(url("t"), "http://127.0.0.1:" + std::to_string(b.port())));
        EXPECT_EQ(client.error().code, diag::errorCode(3005, 98));
        EXPECT_EQ(a.requests(), 0);
        EXPECT_EQ(b.requests(), 2);
    }
    {
        // A base URL needs no domain list.
        resetDomainsForTesting();
        b.setDefaultStatus(200);
        PkiClient client;
        EXPECT_TRUE(client.fetch(url("t"), "http://127.0.0.1:" + std::to_string(b.port()) + "/ignored?x"));
        EXPECT_EQ(client.body().view(), "B answers /pki/t");
    }
}

TEST_F(PkiClientTest, UnusableUrlsAndKindsAreRecordedWithTheirPlaces) {
    TestService a("A");
    addDomain(kHostA, a.port());
    {
        PkiClient client;
        EXPECT_FALSE(client.fetch("not a url", std::nullopt));
        EXPECT_EQ(client.error().code, diag::errorCode(3002, 25));
        EXPECT_NE(client.error().text.str().find(
                      "Interneto funkcijų paketo klaida analizuojant perduotą adresą \"not a url\""),
                  std::string::npos);
    }
    {
        PkiClient client;
        EXPECT_FALSE(client.fetch("ftp://127.0.0.1/pki/x", std::nullopt));
        EXPECT_EQ(client.error().code, diag::errorCode(3002, 25));
        EXPECT_EQ(client.error().lastError, platform::kInternetUnrecognisedScheme);
    }
    {
        PkiClient client;
        EXPECT_FALSE(client.fetch(url("x"), "http://"));
        EXPECT_EQ(client.error().code, diag::errorCode(3003, 25));
        EXPECT_NE(client.error().text.str().find("analizuojant perduotą adresą \"http://\""), std::string::npos);
    }
    {
        PkiClient client;
        EXPECT_FALSE(client.fetch(url("x"), "http://" + std::string(260, 'h') + "/"));
        EXPECT_EQ(client.error().code, diag::errorCode(3003, 25));
    }
    {
        PkiClient client;
        EXPECT_FALSE(client.request("AB", CertByCommonName));
        EXPECT_EQ(client.error().code, diag::errorCode(3010, 80));
    }
    EXPECT_EQ(a.requests(), 0);
}

// ---------------------------------------------------------------- client certificate

// Writes a self-signed certificate for "other.example" that lived one day in
// 2020. Answers false when the tools for it are missing.
constexpr const char* kExpiredCertificateScript = R"PY(
import sys, datetime
from cryptography import x509
from cryptography.x509.oid import NameOID
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, 'other.example')])
start = datetime.datetime(2020, 1, 1)
cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key())
        .serial_number(1).not_valid_before(start).not_valid_after(start + datetime.timedelta(days=1))
        .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
        .sign(key, hashes.SHA256()))
open(sys.argv[1], 'wb').write(key.private_bytes(serialization.Encoding.PEM,
     serialization.PrivateFormat.TraditionalOpenSSL, serialization.NoEncryption()))
open(sys.argv[2], 'wb').write(cert.public_bytes(serialization.Encoding.PEM))
)PY";

enum class ServerCertificate { Current, Expired };

// A TLS service run by its process id with a self-signed certificate for
// another host than 127.0.0.1; it may demand a client certificate issued by
// `clientCa` (by default its own).
class TlsService {
public:
    TlsService(const test::TempDir& dir, ServerCertificate kind, bool demandClientCertificate,
               std::string clientCa = {}) {
        const std::string key = dir.file("s.key"), cert = dir.file("s.pem");
        const std::string make =
            kind == ServerCertificate::Current
                ? "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=other.example -keyout " + key +
                      " -out " + cert + " >/dev/null 2>&1"
                : "python3 -c \"$TESSAL_CERT_SCRIPT\" " + key + " " + cert + " >/dev/null 2>&1";
        ::setenv("TESSAL_CERT_SCRIPT", kExpiredCertificateScript, 1);
        if (std::system(make.c_str()) != 0) return;
        if (clientCa.empty()) clientCa = cert;
        port_ = closedPort();
        const std::string accept = "127.0.0.1:" + std::to_string(port_);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::freopen("/dev/null", "w", stdout);
            ::freopen("/dev/null", "w", stderr);
            if (demandClientCertificate) {
                ::execlp("openssl", "openssl", "s_server", "-quiet", "-accept", accept.c_str(), "-cert", cert.c_str(),
                         "-key", key.c_str(), "-CAfile", clientCa.c_str(), "-Verify", "1", "-verify_return_error", "-www",
                         nullptr);
            } else {
                ::execlp("openssl", "openssl", "s_server", "-quiet", "-accept", accept.c_str(), "-cert", cert.c_str(),
                         "-key", key.c_str(), "-www", nullptr);
            }
            ::_exit(127);
        }
        for (int i = 0; i < 500; ++i) {
            if (listening()) return;
            std::this_thread::sleep_for(10ms);
        }
    }
    ~TlsService() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool ready() const { return pid_ > 0 && listening(); }
    std::uint16_t port() const { return port_; }

private:
    bool listening() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port_);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

TEST_F(PkiClientTest, DemandForClientCertificateIsAnsweredByThePublicHostOverPlainHttp) {
    test::TempDir dir;
    TlsService tls(dir, ServerCertificate::Current, true);
    ASSERT_TRUE(tls.ready());
    TestService pub("public");
    const std::string publicHost = "127.0.0.1:" + std::to_string(pub.port());
    setFallbackHostForTesting(publicHost);
    // Trusted, though it names another host than the one asked.
    platform::setTrustedCaFileForTesting(dir.file("s.pem"));
    addDomain(kHostA, tls.port(), "https");

    PkiClient client;
    ASSERT_TRUE(client.request("0A1B", CertByHash)) << client.error().text.str();
    EXPECT_EQ(client.body().view(), "public answers /pki/cert/?hex&0A1B");
    EXPECT_EQ(pub.requests(), 1);
    EXPECT_EQ(pkiDomainList().currentIndex(), 0);
    const std::string traces = log();
    EXPECT_EQ(occurrences(traces, "Reikalaujama autentifikuota HTTPS sesija"), 1u);
    EXPECT_EQ(occurrences(traces, "Nerastas sertifikatas autentifikuotai HTTPS sesijai. Bandoma jungtis per " +
                                      publicHost),
              1u);
    EXPECT_EQ(occurrences(traces, "Vykdomas TrevCert kreipinys adresu \"http://" + publicHost + "/pki/cert/?hex&0A1B\""),
              1u);

    // The public host's answer is the answer of the whole call, failures included.
    pub.setDefaultStatus(404);
    PkiClient failing;
    EXPECT_FALSE(failing.request("0A1B", CertByHash));
    EXPECT_EQ(failing.error().code, diag::errorCode(3005, 98));
    EXPECT_EQ(pub.requests(), 2);

    // A public host that sends the request back to a demanding server does
    // not start the detour again: the demand is then a failure of its own.
    pub.redirectTo("https://127.0.0.1:" + std::to_string(tls.port()));
    PkiClient circular;
    EXPECT_FALSE(circular.request("0A1B", CertByHash));
    EXPECT_EQ(circular.error().code, diag::errorCode(3003, 26));
    EXPECT_EQ(circular.error().lastError, platform::kInternetClientCertificateNeeded);
    EXPECT_EQ(pub.requests(), 3);
    EXPECT_EQ(occurrences(log(), "Reikalaujama autentifikuota HTTPS sesija"), 3u);
}

// The private operation of a key read from a PEM file, done in software
// where a token would do it.
class SoftwareRsaOperation final : public platform::RsaPrivateOperation {
public:
    explicit SoftwareRsaOperation(const std::string& pemFile) {
        if (FILE* file = std::fopen(pemFile.c_str(), "r")) {
            key_ = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
            std::fclose(file);
        }
    }
    ~SoftwareRsaOperation() override { EVP_PKEY_free(key_); }
    std::size_t modulusSize() const override { return key_ ? static_cast<std::size_t>(EVP_PKEY_get_size(key_)) : 0; }
    bool offers(Padding) const override { return true; }
    bool apply(Padding padding, const std::uint8_t* input, std::size_t size, std::uint8_t* out) override {
        ++uses;
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key_, nullptr);
        std::size_t length = modulusSize();
        const int rsaPadding = padding == Padding::Pkcs1 ? RSA_PKCS1_PADDING : RSA_NO_PADDING;
        const bool ok = ctx && EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, rsaPadding) == 1 &&
                        EVP_PKEY_sign(ctx, out, &length, input, size) == 1 && length == modulusSize();
        EVP_PKEY_CTX_free(ctx);
        return ok;
    }
    int uses = 0;

private:
    EVP_PKEY* key_ = nullptr;
};

// A selected signer as the pki layer sees it; bindClientKey hands out `key`.
class TestIdentity final : public ClientIdentity {
public:
    const diag::Utf8Text& subjectText() const override { return subject; }
    const platform::ByteBlock& certificateDer() const override { return der; }
    std::vector<platform::ByteBlock> issuerCertificates() const override { return issuers; }
    bool clientKeyBound() const override { return bound != nullptr; }
    bool bindClientKey() override {
        bound = key;
        if (!bound) platform::setLastError(platform::kNteBadAlgorithm);
        return bound != nullptr;
    }
    std::shared_ptr<platform::RsaPrivateOperation> clientKey() const override { return bound; }

    diag::Utf8Text subject{"CN=Bandomasis"};
    platform::ByteBlock der;
    std::vector<platform::ByteBlock> issuers;
    std::shared_ptr<platform::RsaPrivateOperation> key;
    std::shared_ptr<platform::RsaPrivateOperation> bound;
};

TestIdentity* testIdentity = nullptr;

platform::ByteBlock derOfPem(const std::string& pemFile) {
    platform::ByteBlock der;
    if (FILE* file = std::fopen(pemFile.c_str(), "r")) {
        if (X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr)) {
            unsigned char* bytes = nullptr;
            const int length = i2d_X509(certificate, &bytes);
            if (length > 0) der.assign(bytes, bytes + length);
            OPENSSL_free(bytes);
            X509_free(certificate);
        }
        std::fclose(file);
    }
    return der;
}

TEST_F(PkiClientTest, DemandIsAnsweredWithTheSignersCertificateOnceItsKeyIsBound) {
    test::TempDir dir;
    TlsService tls(dir, ServerCertificate::Current, true);
    ASSERT_TRUE(tls.ready());
    TestService pub("public");
    const std::string publicHost = "127.0.0.1:" + std::to_string(pub.port());
    setFallbackHostForTesting(publicHost);
    platform::setTrustedCaFileForTesting(dir.file("s.pem"));
    addDomain(kHostA, tls.port(), "https");
    // The service trusts its own certificate as a client's.
    TestIdentity identity;
    identity.der = derOfPem(dir.file("s.pem"));
    ASSERT_FALSE(identity.der.empty());
    testIdentity = &identity;
    setClientIdentityLookup([]() -> ClientIdentity* { return testIdentity; });
    struct Unregister {
        ~Unregister() {
            setClientIdentityLookup(nullptr);
            testIdentity = nullptr;
        }
    } unregister;

    // A key that cannot be bound: nothing is presented, the public host answers.
    {
        PkiClient client;
        ASSERT_TRUE(client.request("0A1B", CertByHash)) << client.error().text.str();
        EXPECT_EQ(client.body().view(), "public answers /pki/cert/?hex&0A1B");
        const std::string traces = log();
        EXPECT_EQ(occurrences(traces, "Bandoma autentifikuotis sertifikatu CN=Bandomasis"), 1u);
        EXPECT_EQ(occurrences(traces, "Papildomas sertifikato kontekstas (CERT_KEY_PROV_HANDLE_PROP_ID)"), 1u);
        EXPECT_EQ(occurrences(traces, "Klaida CERT_KEY_PROV_HANDLE_PROP_ID - " + std::to_string(
                                          static_cast<std::int32_t>(platform::kNteBadAlgorithm))),
                  1u);
        EXPECT_EQ(occurrences(traces, "Klaida registruojant HTTPS sertifikatą - "), 1u);
        EXPECT_EQ(pub.requests(), 1);
    }

    // Bound on the next demand and then presented: the demanding server answers.
    auto key = std::make_shared<SoftwareRsaOperation>(dir.file("s.key"));
    identity.key = key;
    PkiClient client;
    ASSERT_TRUE(client.request("0A1B", CertByHash)) << client.error().text.str();
    EXPECT_NE(client.body().view().find("s_server"), std::string_view::npos) << client.body().view();
    EXPECT_GE(key->uses, 1);
    EXPECT_EQ(pub.requests(), 1);
    EXPECT_EQ(occurrences(log(), "Papildomas sertifikato kontekstas (CERT_KEY_PROV_HANDLE_PROP_ID)"), 2u);

    // A certificate of the same key that the server does not trust: every
    // send fails, then the public host answers.
    ASSERT_EQ(std::system(("openssl req -x509 -key " + dir.file("s.key") + " -subj /CN=other -days 1 -out " +
                           dir.file("other.pem") + " >/dev/null 2>&1")
                              .c_str()),
              0);
    identity.der = derOfPem(dir.file("other.pem"));
    ASSERT_FALSE(identity.der.empty());
    PkiClient refused;
    ASSERT_TRUE(refused.request("0A1B", CertByHash)) << refused.error().text.str();
    EXPECT_EQ(refused.body().view(), "public answers /pki/cert/?hex&0A1B");
    EXPECT_EQ(occurrences(log(), "Nesėkminga autentifikuota HTTPS sesija - "), 1u);
    EXPECT_EQ(occurrences(log(), "Papildomas sertifikato kontekstas (CERT_KEY_PROV_HANDLE_PROP_ID)"), 2u);
    EXPECT_EQ(pub.requests(), 2);
}

TEST_F(PkiClientTest, SignersIssuersGoAlongForAServerThatTrustsOnlyTheRoot) {
    test::TempDir dir;
    const std::string script = "cd " + dir.path().string() + R"( && {
        printf 'basicConstraints=critical,CA:true\nkeyUsage=keyCertSign,cRLSign\n' > ca.ext
        openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=Root -keyout root.key -out root.pem &&
        openssl req -newkey rsa:2048 -nodes -subj /CN=Issuing -keyout issuing.key -out issuing.csr &&
        openssl x509 -req -in issuing.csr -CA root.pem -CAkey root.key -set_serial 2 -days 1 -extfile ca.ext \
            -out issuing.pem &&
        openssl req -newkey rsa:2048 -nodes -subj /CN=Signer -keyout signer.key -out signer.csr &&
        openssl x509 -req -in signer.csr -CA issuing.pem -CAkey issuing.key -set_serial 3 -days 1 -out signer.pem
    } >/dev/null 2>&1)";
    ASSERT_EQ(std::system(script.c_str()), 0);
    TlsService tls(dir, ServerCertificate::Current, true, dir.file("root.pem"));
    ASSERT_TRUE(tls.ready());
    TestService pub("public");
    setFallbackHostForTesting("127.0.0.1:" + std::to_string(pub.port()));
    platform::setTrustedCaFileForTesting(dir.file("s.pem"));
    addDomain(kHostA, tls.port(), "https");
    TestIdentity identity;
    identity.der = derOfPem(dir.file("signer.pem"));
    identity.key = std::make_shared<SoftwareRsaOperation>(dir.file("signer.key"));
    testIdentity = &identity;
    setClientIdentityLookup([]() -> ClientIdentity* { return testIdentity; });
    struct Unregister {
        ~Unregister() {
            setClientIdentityLookup(nullptr);
            testIdentity = nullptr;
        }
    } unregister;

    // Without its issuer the server cannot build the path to its root.
    PkiClient alone;
    ASSERT_TRUE(alone.request("0A1B", CertByHash)) << alone.error().text.str();
    EXPECT_EQ(alone.body().view(), "public answers /pki/cert/?hex&0A1B");

    identity.issuers = {derOfPem(dir.file("issuing.pem"))};
    PkiClient withIssuer;
    ASSERT_TRUE(withIssuer.request("0A1B", CertByHash)) << withIssuer.error().text.str();
    EXPECT_NE(withIssuer.body().view().find("s_server"), std::string_view::npos) << withIssuer.body().view();
    EXPECT_EQ(pub.requests(), 1);
}

TEST_F(PkiClientTest, HttpsAcceptsServerCertificatesWithWrongDatesAndHost) {
    test::TempDir dir;
    TlsService tls(dir, ServerCertificate::Expired, false);
    if (!tls.ready()) TESSAL_SKIP_UNLESS_CI("no certificate could be made for the expired case (python3 with cryptography, openssl)");
    platform::setTrustedCaFileForTesting(dir.file("s.pem"));
    addDomain(kHostA, tls.port(), "https");

    PkiClient client;
    ASSERT_TRUE(client.fetch(url("x"), std::nullopt)) << client.error().text.str();
    EXPECT_NE(client.body().view().find("s_server"), std::string_view::npos);

    // An authority that is not trusted is not accepted.
    platform::setTrustedCaFileForTesting(std::nullopt);
    PkiClient untrusted;
    EXPECT_FALSE(untrusted.fetch(url("x"), std::nullopt));
    EXPECT_EQ(untrusted.error().code, diag::errorCode(3003, 26));
    EXPECT_EQ(untrusted.error().lastError, platform::kInternetInvalidCa);
}

}  // namespace
}  // namespace tessal::pki
