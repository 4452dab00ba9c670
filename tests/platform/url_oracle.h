#pragma once
// The URL splitter as it was over the HTTP library's own parser, kept as the
// oracle the library-free splitter is compared with. Links libcurl itself.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http_transport.h"

namespace tessal::testing {

struct OracleSplit {
    std::optional<platform::UrlParts> parts;
    std::uint32_t error = 0;  // the last error when parts is empty
};

OracleSplit libraryCrackUrl(std::string_view url);

// Both splitters over url; an empty text when they agree, else what differs.
std::string splitDifference(std::string_view url);

}  // namespace tessal::testing
