#pragma once
// The command line's host of the object: a page only when one is named; no
// user interface, so dialogs answer as cancelled.
#include "tessal/interfaces.h"

namespace tessal::cli {

class CliHostSite : public HostSite {
public:
    void setPage(PageLocation page) { page_ = std::move(page); }
    std::optional<PageLocation> page() const override { return page_; }

private:
    std::optional<PageLocation> page_;
};

}  // namespace tessal::cli
