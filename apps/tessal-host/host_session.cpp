#include "host_session.h"

#include "diagnostics/utf8_text.h"
#include "display/face_pattern.h"
#include "page_site.h"
#include "page_values.h"
#include "tessal/error_info.h"
#include "tessal/member_table.h"

namespace tessal::host {

namespace {

// More arguments than any member takes; a call with more is refused unread.
constexpr std::size_t kMaxArguments = 16;
// The largest face box a page may ask for, in pixels each way.
constexpr std::int64_t kMaxFaceSide = 16384;

// The page's function K, called when the signer's card leaves its reader.
// It runs on the card monitor's thread; the channel serialises the write.
class PageCallback : public Dispatch {
public:
    PageCallback(Channel& channel, std::int64_t key) : channel_(channel), key_(key) {}
    HResult invokeDefault(std::vector<Variant>&, Variant&) override {
        channel_.write({{"type", "event"}, {"name", "cardRemoved"}, {"callback", key_}});
        return hr::S_OK;
    }

private:
    Channel& channel_;
    std::int64_t key_;
};

bool validId(const nlohmann::json& message) {
    const auto id = message.find("id");
    return id != message.end() && id->is_number_integer();
}

const std::string* stringField(const nlohmann::json& message, const char* name) {
    const auto it = message.find(name);
    return it != message.end() && it->is_string() ? &it->get_ref<const std::string&>() : nullptr;
}

}  // namespace

HostSession::HostSession(Channel& channel) : channel_(channel) {}

HostSession::~HostSession() = default;

bool HostSession::handle(const nlohmann::json& message) {
    const std::string* type = stringField(message, "type");
    if (type && *type == "release") return false;
    const auto broken = [this] {
        violated_ = true;
        return false;
    };
    if (!type) return broken();
    if (*type == "hello") return hello(message) || broken();
    if (*type != "invoke" && *type != "face") return broken();
    if (!validId(message)) return broken();
    if (!sign_) {
        // Nothing is served before the browser has said which page this is.
        answerFailure(message["id"], hr::E_UNEXPECTED);
        return true;
    }
    return (*type == "invoke" ? invoke(message) : face(message)) || broken();
}

bool HostSession::hello(const nlohmann::json& message) {
    // The page is fixed once; a second hello could move an approved object
    // to another page.
    if (sign_) return false;
    const std::string* url = stringField(message, "url");
    if (!url || url->empty()) url = stringField(message, "origin");
    const std::string address = url ? *url : std::string();
    // Every byte of the address is kept: cutting it at one that is not UTF-8
    // would hand the environment check a different host.
    site_ = std::make_shared<PageSite>(channel_, diag::utf8DecodeEach(address, diag::InvalidByte::Replace));
    sign_ = std::make_unique<Sign>(site_);
    // A browser asks the object to be safe for scripting before the page
    // calls it; that runs the page check and sets browser mode.
    sign_->setInterfaceSafetyOptions(iid::IDispatch, 1, 1);
    nlohmann::json members = nlohmann::json::array();
    for (const MemberInfo& member : memberTable()) members.push_back(std::string(member.name));
    return channel_.write({{"type", "ready"}, {"members", members}}) == WriteEnd::Sent;
}

void HostSession::answerFailure(const nlohmann::json& id, HResult status) {
    const std::optional<ErrorInfo> error = takeErrorInfo();
    channel_.write({{"type", "result"},
                    {"id", id},
                    {"ok", false},
                    {"hresult", static_cast<std::uint32_t>(status)},
                    {"description", error ? utf8ForJson(error->description) : std::string()},
                    {"source", utf8ForJson(kProgId)}});
}

bool HostSession::answer(const nlohmann::json& id, nlohmann::json value) {
    const WriteEnd end = channel_.write({{"type", "result"}, {"id", id}, {"ok", true}, {"value", std::move(value)}});
    // A value too long for the channel is reported as a failure, so the page
    // is not left waiting for an answer that never comes.
    if (end == WriteEnd::TooLong) {
        setErrorInfo(std::nullopt);
        answerFailure(id, hr::E_OUTOFMEMORY);
        return true;
    }
    return end == WriteEnd::Sent;
}

bool HostSession::invoke(const nlohmann::json& message) {
    const nlohmann::json& id = message["id"];
    const std::string* member = stringField(message, "member");
    if (!member) return false;
    setErrorInfo(std::nullopt);
    std::vector<Argument> args;
    if (const auto given = message.find("args"); given != message.end() && !given->is_null()) {
        if (!given->is_array()) return false;
        if (given->size() > kMaxArguments) {
            answerFailure(id, hr::DISP_E_BADPARAMCOUNT);
            return true;
        }
        const CallbackFactory callbacks = [this](std::int64_t key) {
            return std::make_shared<PageCallback>(channel_, key);
        };
        for (const nlohmann::json& value : *given) {
            std::optional<Argument> arg = argumentOf(value, callbacks);
            if (!arg) {
                answerFailure(id, hr::DISP_E_TYPEMISMATCH);
                return true;
            }
            args.push_back(std::move(*arg));
        }
    }
    Variant result;
    const HResult status = sign_->invoke(*member, args, result);
    if (failed(status)) {
        answerFailure(id, status);
        return true;
    }
    return answer(id, jsonOf(result));
}

bool HostSession::face(const nlohmann::json& message) {
    const nlohmann::json& id = message["id"];
    const auto side = [&](const char* name) -> std::optional<std::int32_t> {
        const auto it = message.find(name);
        if (it == message.end() || !it->is_number_integer()) return std::nullopt;
        const std::int64_t v = it->get<std::int64_t>();
        if (v < 0 || v > kMaxFaceSide) return std::nullopt;
        return static_cast<std::int32_t>(v);
    };
    const auto width = side("width");
    const auto height = side("height");
    if (!width || !height) {
        setErrorInfo(std::nullopt);
        answerFailure(id, hr::E_INVALIDARG);
        return true;
    }
    const std::optional<ControlFace> face = sign_->face(FaceRectangle{0, 0, *width, *height});
    nlohmann::json value = nullptr;
    if (face) {
        nlohmann::json rectangles = nlohmann::json::array();
        // The pixels to fill, so that the page draws cells of the grid's size
        // with a plain fillRect.
        for (const FaceRectangle& r : display::filledAreas(*face)) rectangles.push_back({r.left, r.top, r.right, r.bottom});
        value = {{"colour", face->oleColour}, {"rectangles", rectangles}};
    }
    return answer(id, std::move(value));
}

}  // namespace tessal::host
