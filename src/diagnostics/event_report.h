#pragma once
// One entry in the system's event log under the source "TVK" with event id
// 1000, its text exactly the caller's.
#include <cstdint>
#include <string_view>

namespace tessal::diag {

// nSeverity 1 is a warning, 2 an error, anything else information. False when
// the entry could not be sent.
bool reportEvent(std::u16string_view text, std::uint32_t nSeverity);

}  // namespace tessal::diag
