#include "facade/member_guard.h"

#include "diagnostics/log_file.h"
#include "diagnostics/sign_error.h"
#include "platform/fault_trap.h"
#include "tessal/error_info.h"
#include "tessal/sign.h"

namespace tessal::facade {

namespace {
constexpr std::u16string_view kUnexpected = u"Nenumatyta klaida";
constexpr std::u16string_view kFault = u"Nenumatyta operacinės sistemos klaida (%X)";
}  // namespace

HResult reportUntraced(std::u16string_view message, HResult status) {
    setErrorInfo(ErrorInfo{std::u16string(kProgId), std::u16string(message)});
    return status;
}

void traceObject(const SignState& state, std::u16string_view format, diag::FormatArgs args) {
    diag::traceObject(state.objectLogPath, format, args);
}

HResult reportFailure(SignState& state, std::u16string_view message) {
    try {
        traceObject(state, u"%s", {message});
        return reportUntraced(message);
    } catch (const diag::SignError& e) {
        return reportUntraced(e.message());
    } catch (...) {
        return reportUntraced(kUnexpected);
    }
}

HResult reportFailure(SignState& state, std::u16string_view format, diag::FormatArgs args) {
    std::u16string message;
    try {
        message = diag::formatWide(format, args);
    } catch (const diag::SignError& e) {
        return reportUntraced(e.message());
    } catch (...) {
        return reportUntraced(kUnexpected);
    }
    return reportFailure(state, message);
}

HResult reportFailure(SignState& state, const diag::Failure& failure) {
    if (failure.untraced) return reportUntraced(failure.message);
    return reportFailure(state, failure.message);
}

HResult guardMember(SignState& state, const std::function<HResult()>& body) {
    setErrorInfo(std::nullopt);
    HResult result = hr::S_OK;
    std::optional<std::uint32_t> fault;
    try {
        fault = platform::runTrappingFaults([&] {
            try {
                result = body();
            } catch (const diag::SignError& e) {
                result = reportFailure(state, e.message());
            } catch (...) {
                result = reportFailure(state, kUnexpected);
            }
        });
    } catch (...) {
        return reportFailure(state, kUnexpected);
    }
    if (fault) {
        const diag::SignError error(diag::formatWide(kFault, {*fault}));
        return reportFailure(state, error.message());
    }
    return result;
}

}  // namespace tessal::facade

#include "facade/environment_check.h"

namespace tessal::facade {

HResult gatedMember(SignState& state, const std::function<HResult()>& body) {
    return guardMember(state, [&] {
        if (!checkEnvironment(state)) return reportFailure(state, kEnvironmentRefused);
        return body();
    });
}

}  // namespace tessal::facade
