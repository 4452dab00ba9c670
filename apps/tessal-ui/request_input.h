#pragma once
// Reads the one request the library sends on the channel descriptor.
#include <optional>

#include "display/window_request.h"

namespace tessal::ui {

// The request on `fd`, read up to its announced length; nothing when the
// header is not one, the length is over the limit, the stream ends early or
// the body does not decode.
std::optional<display::WindowRequest> readRequest(int fd);

}  // namespace tessal::ui
