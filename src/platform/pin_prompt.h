#pragma once
// The desktop PIN prompt: the pinentry program of the desktop, spoken to in
// its Assuan protocol. The program is `[platform] pinentryProgram` (default
// "pinentry"); the prompt gives up after `[platform] pinentryTimeout`
// seconds (default 60), so a signing never waits for ever.
#include <optional>
#include <string_view>

#include "platform/secret_buffer.h"

namespace tessal::platform {

// The PIN the user typed, in a wiped buffer; nothing when the prompt was
// cancelled, timed out or could not be shown.
std::optional<SecretBuffer> askPin(std::string_view description);

}  // namespace tessal::platform
