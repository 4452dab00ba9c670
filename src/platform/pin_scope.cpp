#include "platform/pin_scope.h"

namespace tessal::platform {

namespace {

thread_local PinAttemptScope* openScope = nullptr;

}  // namespace

PinAttemptScope::PinAttemptScope() {
    if (openScope) return;
    openScope = this;
    inForce_ = true;
}

PinAttemptScope::~PinAttemptScope() {
    if (inForce_) openScope = nullptr;
}

bool pinRefusedInScope(std::string_view token) { return openScope && openScope->refused_.contains(token); }

void notePinRefused(std::string_view token) {
    if (openScope) openScope->refused_.emplace(token);
}

const SecretBuffer* pinReadInScope(std::string_view source) {
    if (!openScope) return nullptr;
    const auto found = openScope->storedPins_.find(source);
    return found == openScope->storedPins_.end() ? nullptr : &found->second;
}

void keepPinReadInScope(std::string_view source, const SecretBuffer& pin) {
    if (openScope) openScope->storedPins_.insert_or_assign(std::string(source), pin.copy());
}

}  // namespace tessal::platform
