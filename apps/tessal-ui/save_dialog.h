#pragma once
// The file chooser that asks where a document is saved.
#include <optional>
#include <string>

#include "display/window_request.h"

namespace tessal::ui {

// The chosen file name as the file system holds it, in the library's UTF-16
// form for names; nothing when the user cancels.
std::optional<std::u16string> runSaveDialog(const display::WindowRequest& request);

}  // namespace tessal::ui
