// tessal-host: the native-messaging host a browser starts for one page
// connection. It hosts one Sign object in that page and answers the page's
// messages over standard input and output (see PROTOCOL.md).
#include <csignal>
#include <clocale>
#include <iostream>

#include "channel.h"
#include "host_session.h"

int main() {
    std::setlocale(LC_ALL, "");
    // A browser that goes away closes the pipe; a failed write then ends the
    // host instead of a signal.
    std::signal(SIGPIPE, SIG_IGN);
    const auto descriptors = tessal::host::takePrivateChannel();
    if (!descriptors) {
        std::cerr << "tessal-host: cannot set up the channel\n";
        return 1;
    }
    tessal::host::Channel channel(descriptors->first, descriptors->second);
    int status = 0;
    {
        tessal::host::HostSession session(channel);
        for (;;) {
            tessal::host::ReadEnd end = tessal::host::ReadEnd::Closed;
            const auto message = channel.read(end);
            if (!message) {
                if (end == tessal::host::ReadEnd::Malformed) {
                    std::cerr << "tessal-host: malformed message from the browser\n";
                    status = 1;
                }
                break;
            }
            if (!session.handle(*message)) break;
        }
    }
    return status;
}
