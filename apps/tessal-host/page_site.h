#pragma once
// The host site of the object in a browser page: the page address the
// browser reported, the internet zone, repaint requests sent to the page as
// events, and no interface of its own (the desktop window and save dialog
// are used when a display is there).
#include "channel.h"
#include "tessal/interfaces.h"

namespace tessal::host {

class PageSite : public HostSite {
public:
    PageSite(Channel& channel, std::u16string address) : channel_(channel), page_{std::move(address), 3} {}
    std::optional<PageLocation> page() const override { return page_; }
    void requestRepaint() override { channel_.write({{"type", "event"}, {"name", "repaint"}}); }

private:
    Channel& channel_;
    PageLocation page_;
};

}  // namespace tessal::host
