#pragma once
// The span of one signing operation, as the key store sees PINs in it. A
// token that refused a PIN is not given one again while the scope lasts
// (each refusal spends one of the card's few tries, and one operation may
// reach the token through several containers, key specs and start-overs),
// and a stored PIN is read from the configuration once per scope.
//
// The scope belongs to the thread that opens it. A scope opened while
// another is open on the thread adds nothing: the outer one stays in force.
// Outside any scope nothing is remembered.
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "platform/secret_buffer.h"

namespace tessal::platform {

class PinAttemptScope {
public:
    PinAttemptScope();
    ~PinAttemptScope();
    PinAttemptScope(const PinAttemptScope&) = delete;
    PinAttemptScope& operator=(const PinAttemptScope&) = delete;

private:
    friend bool pinRefusedInScope(std::string_view token);
    friend void notePinRefused(std::string_view token);
    friend const SecretBuffer* pinReadInScope(std::string_view source);
    friend void keepPinReadInScope(std::string_view source, const SecretBuffer& pin);

    bool inForce_ = false;
    std::set<std::string, std::less<>> refused_;
    std::map<std::string, SecretBuffer, std::less<>> storedPins_;
};

// Whether `token` (an identity the key store makes of module, slot, serial
// number and label) refused a PIN in the thread's open scope.
bool pinRefusedInScope(std::string_view token);
void notePinRefused(std::string_view token);

// The stored PIN read from `source` (a configuration section) earlier in the
// open scope, or none; and the keeping of one for the rest of the scope.
const SecretBuffer* pinReadInScope(std::string_view source);
void keepPinReadInScope(std::string_view source, const SecretBuffer& pin);

}  // namespace tessal::platform
