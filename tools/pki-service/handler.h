#pragma once
// Answers one request of the certificate web service from the catalogue,
// with the request log and the injected faults and delay of a test run.
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue.h"

namespace tessal::pki_service {

struct FailRule {
    std::string prefix;  // compared with the request target (path and query) as received
    int status = 0;
};

struct ServiceOptions {
    std::filesystem::path root;
    std::vector<FailRule> failures;
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds drip{0};  // > 0: each byte of a body after this pause, one at a time
    std::filesystem::path requestLog;  // empty: no log
};

class RequestHandler {
public:
    explicit RequestHandler(ServiceOptions options);

    // Reads the root again; the previous catalogue serves until the new one is in place.
    void reload();
    void handle(const httplib::Request& request, httplib::Response& response);

private:
    std::shared_ptr<const Catalogue> catalogue() const;
    void logRequest(const std::string& target);

    ServiceOptions options_;
    mutable std::mutex catalogueMutex_;
    std::shared_ptr<const Catalogue> catalogue_;
    std::mutex logMutex_;
    std::ofstream log_;
};

}  // namespace tessal::pki_service
