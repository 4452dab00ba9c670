// tessal-pki-service: a stand-in for the organisation's certificate web
// service, serving the certificates and CRLs of a directory to the client.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "handler.h"

namespace {

using tessal::pki_service::FailRule;
using tessal::pki_service::RequestHandler;
using tessal::pki_service::ServiceOptions;

constexpr std::string_view kUsage =
    "usage: tessal-pki-service --root DIR --listen HOST:PORT [--tls-cert FILE --tls-key FILE [--client-ca FILE]\n"
    "                          [--tls-max 1.2|1.3]]\n"
    "                          [--request-log FILE] [--fail PATH_PREFIX=STATUS]... [--delay-ms N]\n"
    "                          [--drip-ms N]\n";

struct Options {
    ServiceOptions service;
    std::string host;
    int port = -1;
    std::string tlsCert;
    std::string tlsKey;
    std::string clientCa;
    int tlsMaxVersion = 0;  // the library's highest when 0
};

std::optional<int> number(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

bool fail(std::string_view message) {
    std::cerr << "tessal-pki-service: " << message << '\n' << kUsage;
    return false;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (i + 1 >= argc) return fail("missing value after " + std::string(name));
        const std::string value = argv[++i];
        if (name == "--root") {
            options.service.root = value;
        } else if (name == "--listen") {
            const std::size_t colon = value.rfind(':');
            if (colon == std::string::npos || colon == 0) return fail("--listen wants HOST:PORT");
            const auto port = number(std::string_view(value).substr(colon + 1), 0, 65535);
            if (!port) return fail("bad port in --listen");
            options.host = value.substr(0, colon);
            options.port = *port;
        } else if (name == "--tls-cert") {
            options.tlsCert = value;
        } else if (name == "--tls-key") {
            options.tlsKey = value;
        } else if (name == "--client-ca") {
            options.clientCa = value;
        } else if (name == "--tls-max") {
            if (value == "1.2") {
                options.tlsMaxVersion = TLS1_2_VERSION;
            } else if (value == "1.3") {
                options.tlsMaxVersion = TLS1_3_VERSION;
            } else {
                return fail("--tls-max wants 1.2 or 1.3");
            }
        } else if (name == "--request-log") {
            options.service.requestLog = value;
        } else if (name == "--fail") {
            const std::size_t equals = value.rfind('=');
            if (equals == std::string::npos) return fail("--fail wants PATH_PREFIX=STATUS");
            const auto status = number(std::string_view(value).substr(equals + 1), 100, 599);
            if (!status) return fail("bad status in --fail");
            options.service.failures.push_back(FailRule{value.substr(0, equals), *status});
        } else if (name == "--delay-ms") {
            const auto delay = number(value, 0, 600000);
            if (!delay) return fail("bad --delay-ms");
            options.service.delay = std::chrono::milliseconds(*delay);
        } else if (name == "--drip-ms") {
            const auto drip = number(value, 0, 600000);
            if (!drip) return fail("bad --drip-ms");
            options.service.drip = std::chrono::milliseconds(*drip);
        } else {
            return fail("unknown option " + std::string(name));
        }
    }
    if (options.service.root.empty()) return fail("--root is required");
    if (options.port < 0) return fail("--listen is required");
    if (options.tlsCert.empty() != options.tlsKey.empty()) return fail("--tls-cert and --tls-key go together");
    if (!options.clientCa.empty() && options.tlsCert.empty()) return fail("--client-ca needs --tls-cert");
    if (options.tlsMaxVersion != 0 && options.tlsCert.empty()) return fail("--tls-max needs --tls-cert");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) return 2;

    // The signals are taken by one thread with sigwait; every other thread,
    // the server's workers included, inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    RequestHandler handler(options.service);

    std::unique_ptr<httplib::Server> server;
    if (options.tlsCert.empty()) {
        server = std::make_unique<httplib::Server>();
    } else {
        auto tls = std::make_unique<httplib::SSLServer>(options.tlsCert.c_str(), options.tlsKey.c_str(),
                                                         options.clientCa.empty() ? nullptr : options.clientCa.c_str());
        if (options.tlsMaxVersion != 0 && tls->is_valid() &&
            SSL_CTX_set_max_proto_version(tls->ssl_context(), options.tlsMaxVersion) != 1) {
            std::cerr << "tessal-pki-service: --tls-max cannot be set\n";
            return 1;
        }
        server = std::move(tls);
    }
    if (!server->is_valid()) {
        std::cerr << "tessal-pki-service: the TLS certificate, key or client CA cannot be used\n";
        return 1;
    }
    server->Get(".*", [&handler](const httplib::Request& request, httplib::Response& response) {
        handler.handle(request, response);
    });

    int port = options.port;
    if (port == 0) {
        port = server->bind_to_any_port(options.host);
        if (port <= 0) port = -1;
    } else if (!server->bind_to_port(options.host, port)) {
        port = -1;
    }
    if (port < 0) {
        std::cerr << "tessal-pki-service: cannot listen on " << options.host << ':' << options.port << '\n';
        return 1;
    }
    std::cout << port << std::endl;

    std::atomic<bool> stopping = false;
    std::thread signalThread([&] {
        for (;;) {
            int received = 0;
            if (sigwait(&signals, &received) != 0) continue;
            if (received == SIGHUP && !stopping) {
                handler.reload();
                continue;
            }
            stopping = true;
            server->stop();
            return;
        }
    });

    const bool listened = server->listen_after_bind();
    if (!stopping.exchange(true)) pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
    return listened ? 0 : 1;
}
