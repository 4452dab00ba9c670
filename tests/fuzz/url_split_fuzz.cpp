// The library-free URL splitter against the HTTP library's own parser: any
// input on which they differ stops the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/url_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    const std::string difference = tessal::testing::splitDifference(url);
    if (!difference.empty()) {
        std::fprintf(stderr, "URL split differs for \"%s\": %s\n", url.c_str(), difference.c_str());
        std::abort();
    }
    return 0;
}
