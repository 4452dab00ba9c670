#include "handler.h"

#include <iostream>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "data/codecs.h"

namespace tessal::pki_service {

namespace {

constexpr std::string_view kPrefix = "/pki/";
constexpr std::string_view kCrlSuffix = ".htm";
constexpr std::size_t kMaxIndexDigits = 9;

// What a request selects: an answer document, or nothing known (404), or a
// request that is not well formed (400).
struct Lookup {
    int status = 404;
    const std::string* body = nullptr;
    std::string contentType = "text/xml";
};

std::optional<std::string> decoded(std::string_view text) {
    std::string out(text);
    if (!data::percentDecode(out)) return std::nullopt;
    return out;
}

bool isIndex(std::string_view text) {
    if (text.empty() || text.size() > kMaxIndexDigits) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

Lookup found(const std::string* body) {
    Lookup lookup;
    if (body) {
        lookup.status = 200;
        lookup.body = body;
    }
    return lookup;
}

Lookup badRequest() {
    Lookup lookup;
    lookup.status = 400;
    return lookup;
}

// "cert/?FORM&KEY", or "cert/?KEY" for a Base64 certificate digest.
Lookup certificateLookup(const Catalogue& catalogue, std::string_view query) {
    static constexpr std::string_view kForms[] = {"hex", "pkhex", "subject", "issuerserial", "pk"};
    std::string form;
    std::string_view rawKey = query;
    const std::size_t amp = query.find('&');
    if (amp != std::string_view::npos) {
        for (std::string_view known : kForms) {
            if (query.substr(0, amp) == known) {
                form = known;
                rawKey = query.substr(amp + 1);
                break;
            }
        }
    }
    const auto key = decoded(rawKey);
    if (!key) return badRequest();
    if (key->empty()) return {};
    return found(catalogue.certificate(form, *key));
}

// "crl/?hex&KEY", "crl/?KEY" (Base64 digest), "crl/INDEX.htm" or "crl/NAME.htm".
Lookup crlLookup(const Catalogue& catalogue, std::string_view rest, std::optional<std::string_view> query) {
    if (query) {
        if (!rest.empty()) return {};
        const bool hex = query->substr(0, 4) == "hex&";
        const auto key = decoded(hex ? query->substr(4) : *query);
        if (!key) return badRequest();
        if (key->empty()) return {};
        return found(catalogue.crlByHash(*key, !hex));
    }
    if (rest.size() <= kCrlSuffix.size() || rest.substr(rest.size() - kCrlSuffix.size()) != kCrlSuffix) return {};
    const auto key = decoded(rest.substr(0, rest.size() - kCrlSuffix.size()));
    if (!key) return badRequest();
    if (isIndex(*key)) return found(catalogue.crlAt(std::stoul(*key)));
    return found(catalogue.crlByName(*key));
}

Lookup lookUp(const Catalogue& catalogue, std::string_view target) {
    std::optional<std::string_view> query;
    std::string_view path = target;
    if (const std::size_t mark = target.find('?'); mark != std::string_view::npos) {
        query = target.substr(mark + 1);
        path = target.substr(0, mark);
    }
    if (path.substr(0, kPrefix.size()) != kPrefix) return {};
    const std::string_view endpoint = path.substr(kPrefix.size());

    if (endpoint == "time" && !query) {
        Lookup lookup = found(catalogue.time() ? &*catalogue.time() : nullptr);
        lookup.contentType = "text/plain";
        return lookup;
    }
    if (endpoint == "cert/") return query ? certificateLookup(catalogue, *query) : Lookup{};
    if (endpoint.substr(0, 4) == "crl/") return crlLookup(catalogue, endpoint.substr(4), query);
    return {};
}

}  // namespace

RequestHandler::RequestHandler(ServiceOptions options) : options_(std::move(options)) {
    if (!options_.requestLog.empty()) {
        log_.open(options_.requestLog, std::ios::app);
        if (!log_) std::cerr << "cannot open request log " << options_.requestLog.string() << '\n';
    }
    reload();
}

void RequestHandler::reload() {
    auto fresh = std::make_shared<const Catalogue>(Catalogue::load(options_.root));
    std::cerr << "serving " << fresh->certificateCount() << " certificates and " << fresh->crlCount()
              << " CRLs from " << options_.root.string() << '\n';
    const std::lock_guard lock(catalogueMutex_);
    catalogue_ = std::move(fresh);
}

std::shared_ptr<const Catalogue> RequestHandler::catalogue() const {
    const std::lock_guard lock(catalogueMutex_);
    return catalogue_;
}

void RequestHandler::logRequest(const std::string& target) {
    if (!log_.is_open()) return;
    const std::lock_guard lock(logMutex_);
    log_ << target << '\n';
    log_.flush();
}

void RequestHandler::handle(const httplib::Request& request, httplib::Response& response) {
    // The target as it came on the request line: the client's escapes are
    // undone here, one key at a time, not by the HTTP layer.
    const std::string& target = request.target.empty() ? request.path : request.target;
    logRequest(target);
    if (options_.delay.count() > 0) std::this_thread::sleep_for(options_.delay);

    for (const FailRule& rule : options_.failures) {
        if (target.compare(0, rule.prefix.size(), rule.prefix) == 0) {
            response.status = rule.status;
            return;
        }
    }
    const auto current = catalogue();
    const Lookup lookup = lookUp(*current, target);
    response.status = lookup.status;
    if (!lookup.body) return;
    if (options_.drip.count() == 0) {
        response.set_content(*lookup.body, lookup.contentType.c_str());
        return;
    }
    // A slow server that never pauses long enough to look dead.
    auto body = std::make_shared<const std::string>(*lookup.body);
    const std::chrono::milliseconds drip = options_.drip;
    response.set_content_provider(body->size(), lookup.contentType,
                                  [body, drip](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                      std::this_thread::sleep_for(drip);
                                      return sink.write(body->data() + offset, 1);
                                  });
}

}  // namespace tessal::pki_service
