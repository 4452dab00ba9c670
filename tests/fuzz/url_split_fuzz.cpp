// The library-free URL splitter against the HTTP library's own parser: any
// input on which they differ stops the run. Each input is tried as it is and
// also read as a list of URL pieces, which reaches the places where the
// parser's rules meet far sooner than random bytes do.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/url_oracle.h"

namespace {

constexpr std::array<std::string_view, 64> kPieces = {
    "http:", "https:", "HTTP:", "file:", "ftp:", "foo:", "1:", "/", "//", "///", "\\", "@", ":", "::", "[", "]",
    "%", "%25", "%2e", "%2f", "%41", "%00", "%zz", "?", "#", ".", "..", "/./", "/../", "a", "B", "0", "1", "8",
    "0x", "0x7f", "0177", "127", "255", "256", "65535", "65536", "4294967295", "ffff", "fe80", "1.2.3.4",
    "localhost", "127.0.0.1", "c:", "c|", " ", "\x01", "\x7f", "\xc3\xa4", "-", "+", "_", "~", "!", ";", "=", "&",
    "u:p@", "eth0"};

void compare(const std::string& url) {
    const std::string difference = tessal::testing::splitDifference(url);
    if (!difference.empty()) {
        std::fprintf(stderr, "URL split differs for \"%s\": %s\n", url.c_str(), difference.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    compare(std::string(reinterpret_cast<const char*>(data), size));
    std::string pieces;
    for (std::size_t i = 0; i < size; ++i) pieces += kPieces[data[i] % kPieces.size()];
    compare(pieces);
    return 0;
}
