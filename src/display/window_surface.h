#pragma once
// The signature-information window and the save dialog of a desktop session,
// shown by the separate window program (tessal-ui) so that no toolkit is
// loaded into the host's process. Used when the host offers no user
// interface of its own and a display is there.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tessal/interfaces.h"
#include "xades/signature_info.h"

namespace tessal::display {

class WindowSurface : public UiSurface {
public:
    explicit WindowSurface(std::string program) : program_(std::move(program)) {}

    // Shows the window for `info` and returns when the user has closed it;
    // a program that cannot start or dies shows nothing.
    void showSignatureWindow(const xml::SignatureInfo& info);

    // Asks for a file name; nothing when the user cancels or the program
    // cannot start, dies or answers something that is no name.
    std::optional<std::u16string> chooseSaveFileName(std::u16string_view title, std::u16string_view filterName,
                                                     std::u16string_view filterPattern) override;

    const std::string& program() const { return program_; }

private:
    std::string program_;
};

// A display is there: DISPLAY or WAYLAND_DISPLAY is set and not empty.
bool displayAvailable();

// The window program: `[platform] uiProgram` of the configuration, else the
// one of the build when it is there, else the one installed with the library.
std::string windowProgramPath();

// The surface for this session; nothing without a display.
std::unique_ptr<WindowSurface> desktopWindowSurface();

}  // namespace tessal::display
