// tessal-ui: the window program the library runs for the signature
// information window and the save dialog. It reads one request from the
// socket on descriptor 3, shows what is asked, answers there and exits.
// Exit status: 0 when the request was served, 2 when it was refused.
#include <fcntl.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <iostream>

#include "display/window_request.h"
#include "info_window.h"
#include "platform/child_exchange.h"
#include "request_input.h"
#include "save_dialog.h"

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int channel = tessal::platform::kChildChannelFd;
    // Whatever the toolkit starts must not hold the channel open after us.
    if (::fcntl(channel, F_SETFD, FD_CLOEXEC) != 0) {
        std::cerr << "tessal-ui: no request channel on descriptor " << channel << "\n";
        return 2;
    }
    const std::optional<tessal::display::WindowRequest> request = tessal::ui::readRequest(channel);
    if (!request) {
        std::cerr << "tessal-ui: refused a request that is cut short, too large or malformed\n";
        return 2;
    }
    std::setlocale(LC_ALL, "");
    if (!gtk_init_check(&argc, &argv)) {
        std::cerr << "tessal-ui: cannot open the display\n";
        return 2;
    }
    if (request->task == tessal::display::WindowTask::ShowSummary) {
        tessal::ui::runInfoWindow(request->rows, request->objects);
        return 0;
    }
    const std::optional<std::u16string> name = tessal::ui::runSaveDialog(*request);
    if (name && !writeAll(channel, tessal::display::encodeChosenName(*name))) return 2;
    return 0;
}
