#pragma once
// The thread's current error information: what a member sets when it reports a
// failure, and what a script host shows as the error text.
#include <optional>
#include <string>

namespace tessal {

struct ErrorInfo {
    std::u16string source;
    std::u16string description;
};

void setErrorInfo(std::optional<ErrorInfo> info);
// Takes the thread's error information and clears it, like GetErrorInfo.
std::optional<ErrorInfo> takeErrorInfo();

}  // namespace tessal
