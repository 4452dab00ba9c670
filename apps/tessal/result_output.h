#pragma once
// How `tessal call` prints what an invocation answered.
#include <cstdint>
#include <optional>
#include <string>

#include "tessal/sign.h"

namespace tessal::cli {

struct Invocation {
    std::string member;
    HResult status = hr::S_OK;
    Variant result;
    std::optional<ErrorInfo> error;
    // GetInterfaceSafetyOptions answers two words instead of a variant.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> safety;
};

// One JSON object on one line: member, hresult, and result or error.
std::string invocationJson(const Invocation& call);
// The result as text for standard output ("" for none).
std::string resultText(const Invocation& call);
// "error 0x%08X (SOURCE): DESCRIPTION" for standard error.
std::string errorText(const Invocation& call);

// A JSON string literal; every non-ASCII UTF-16 unit as a \uXXXX escape.
std::string jsonString(std::u16string_view text);

}  // namespace tessal::cli
