#pragma once
// Member-work outcomes as readable text, so that a mismatch prints the message.
#include <string>

#include "diagnostics/outcome.h"
#include "diagnostics/utf8_text.h"

namespace tessal::test {

inline std::string shown(const diag::Outcome<std::u16string>& r) {
    return r.ok() ? diag::utf8Encode(r.value()) : "FAIL: " + diag::utf8Encode(r.failure().message);
}

inline std::string shown(const diag::Status& s) {
    return s.ok() ? "OK" : "FAIL: " + diag::utf8Encode(s.failure().message);
}

inline std::u16string u16(const std::string& utf8) { return diag::utf16Of(utf8); }

}  // namespace tessal::test
