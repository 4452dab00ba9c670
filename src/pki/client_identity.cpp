#include "pki/client_identity.h"

#include <atomic>

namespace tessal::pki {

namespace {
std::atomic<ClientIdentityLookup> registeredLookup{nullptr};
}  // namespace

ClientIdentity::~ClientIdentity() = default;

void setClientIdentityLookup(ClientIdentityLookup lookup) { registeredLookup.store(lookup); }

ClientIdentity* currentClientIdentity() {
    const ClientIdentityLookup lookup = registeredLookup.load();
    return lookup ? lookup() : nullptr;
}

}  // namespace tessal::pki
