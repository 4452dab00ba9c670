// The browser host's channel on hostile bytes: frames, chunk runs and JSON
// from a page's extension, read as the host reads them, and every invoke's
// arguments converted as the host converts them. Nothing may crash, hang or
// grow without bound.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "channel.h"
#include "page_values.h"

namespace {

struct NoCallback : tessal::Dispatch {
    tessal::HResult invokeDefault(std::vector<tessal::Variant>&, tessal::Variant&) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int in = ::memfd_create("frames", MFD_CLOEXEC);
    if (in < 0) return 0;
    if (size > 0 && ::write(in, data, size) != static_cast<ssize_t>(size)) {
        ::close(in);
        return 0;
    }
    ::lseek(in, 0, SEEK_SET);
    {
        tessal::host::Channel channel(in, -1);
        const tessal::host::CallbackFactory callbacks = [](std::int64_t) { return std::make_shared<NoCallback>(); };
        tessal::host::ReadEnd end{};
        while (auto message = channel.read(end)) {
            if (!message->is_object()) continue;
            const auto args = message->find("args");
            if (args == message->end() || !args->is_array()) continue;
            for (const auto& value : *args) (void)tessal::host::argumentOf(value, callbacks);
        }
    }
    ::close(in);
    return 0;
}
