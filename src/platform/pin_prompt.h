#pragma once
// The desktop PIN prompt: the pinentry program of the desktop, spoken to in
// its Assuan protocol. The program is `[platform] pinentryProgram` (default
// "pinentry"); the prompt gives up after `[platform] pinentryTimeout`
// seconds (default 60), so a signing never waits for ever.
#include <optional>
#include <string>
#include <string_view>

namespace tessal::platform {

// The PIN the user typed; nothing when the prompt was cancelled, timed out
// or could not be shown.
std::optional<std::string> askPin(std::string_view description);

}  // namespace tessal::platform
