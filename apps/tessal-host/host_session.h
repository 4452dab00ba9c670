#pragma once
// One page connection: the Sign object the page scripts, hosted in the page
// the browser named in `hello`, answering the page's messages in order.
#include <memory>

#include <nlohmann/json.hpp>

#include "channel.h"
#include "tessal/sign.h"

namespace tessal::host {

class PageSite;

class HostSession {
public:
    explicit HostSession(Channel& channel);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Handles one message; false when the host should end (release, or a
    // message that breaks the protocol).
    bool handle(const nlohmann::json& message);

private:
    bool hello(const nlohmann::json& message);
    bool invoke(const nlohmann::json& message);
    bool face(const nlohmann::json& message);
    void answerFailure(const nlohmann::json& id, HResult status);
    bool answer(const nlohmann::json& id, nlohmann::json value);

    Channel& channel_;
    std::shared_ptr<PageSite> site_;
    std::unique_ptr<Sign> sign_;
};

}  // namespace tessal::host
