#pragma once
#include <iostream>
#include <optional>

#include "tessal/interfaces.h"

namespace tessal::cli {

// The command line as a UI: the signature summary goes to standard output
// (as text, or as JSON rows), and save dialogs are cancelled.
class CliSurface : public UiSurface {
public:
    explicit CliSurface(bool json) : json_(json) {}
    std::optional<std::u16string> chooseSaveFileName(std::u16string_view, std::u16string_view,
                                                     std::u16string_view) override {
        return std::nullopt;
    }
    void showSignatureSummary(const SignatureSummary& summary) override {
        std::cout << (json_ ? summary.json + "\n" : summary.text);
        std::cout.flush();
    }

private:
    bool json_;
};

// With `desktopWindow` the site offers no interface of its own, so the
// object shows its window and save dialog on the desktop.
class CliHostSite : public HostSite {
public:
    explicit CliHostSite(bool jsonSummary = false, bool desktopWindow = false)
        : surface_(jsonSummary), desktopWindow_(desktopWindow) {}
    void setPage(PageLocation page) { page_ = std::move(page); }
    std::optional<PageLocation> page() const override { return page_; }
    UiSurface* ui() override { return desktopWindow_ ? nullptr : &surface_; }

private:
    std::optional<PageLocation> page_;
    CliSurface surface_;
    bool desktopWindow_;
};

}  // namespace tessal::cli
