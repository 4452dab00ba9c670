#pragma once
// A certificate web service in memory for the store suites: answers by
// request (kind and key), records every request, and fails what it lacks the
// way the real client does.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pki/pki_client.h"

namespace tessal::test {

class FakePkiSource : public pki::PkiSource {
public:
    void answer(pki::PkiQueryKind kind, std::string key, std::string body) {
        answers_[{kind, std::move(key)}] = std::move(body);
    }

    bool request(std::optional<std::string_view> key, pki::PkiQueryKind kind) override {
        const std::string text(key.value_or(""));
        requests.emplace_back(kind, text);
        body_.clear();
        const auto found = answers_.find({kind, text});
        if (found == answers_.end()) {
            // What the real client records for a status other than 200.
            diag::recordErrorCode(error_, 0, 3005, 98, {text, 404});
            return false;
        }
        body_.append(found->second.data(), found->second.size());
        return true;
    }

    bool fetch(std::string_view, std::optional<std::string_view>) override { return false; }

    // Forgets a failure so the source can be asked again.
    void clearError() { error_ = diag::ErrorRecord{}; }

    std::vector<std::pair<pki::PkiQueryKind, std::string>> requests;

private:
    std::map<std::pair<pki::PkiQueryKind, std::string>, std::string> answers_;
};

}  // namespace tessal::test
