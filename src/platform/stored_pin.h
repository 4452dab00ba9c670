#pragma once
// The PINs given ahead of time, in the order they are taken: the
// environment variable TESSAL_PIN, then a provider's `pin`, then the first
// line of its `pinFile`.
//
// TESSAL_PIN is taken out of the environment the first time the key store
// looks (so no child process, the desktop PIN prompt included, inherits it)
// and kept in a wiped buffer for the rest of the process; setting it again
// replaces the kept value.
#include <optional>
#include <string_view>

#include "platform/secret_buffer.h"

namespace tessal::platform {

// The stored PIN for the provider whose configuration section is `section`.
std::optional<SecretBuffer> storedPin(std::string_view section);

// Moves TESSAL_PIN, when set, out of the environment into the kept buffer.
void takeEnvironmentPin();

// Test seam: forgets the kept TESSAL_PIN.
void forgetEnvironmentPinForTesting();

}  // namespace tessal::platform
