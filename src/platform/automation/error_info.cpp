#include "tessal/error_info.h"

namespace tessal {

namespace {
thread_local std::optional<ErrorInfo> currentErrorInfo;
}

void setErrorInfo(std::optional<ErrorInfo> info) { currentErrorInfo = std::move(info); }

std::optional<ErrorInfo> takeErrorInfo() {
    std::optional<ErrorInfo> info = std::move(currentErrorInfo);
    currentErrorInfo.reset();
    return info;
}

}  // namespace tessal
