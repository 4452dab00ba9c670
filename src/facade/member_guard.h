#pragma once
// The guard around every member and the one way members report a failure.
#include <functional>
#include <string_view>

#include "diagnostics/outcome.h"
#include "diagnostics/wide_format.h"
#include "facade/sign_state.h"
#include "tessal/hresult.h"

namespace tessal::facade {

// Runs a member body: clears the thread's error information, arms the fault
// trap, and turns a fault into "Nenumatyta operacinės sistemos klaida (%X)"
// and any other exception into "Nenumatyta klaida".
HResult guardMember(SignState& state, const std::function<HResult()>& body);

// Traces the finished message to the object's and the global log, sets the
// error information (source Tessal.Sign.1) and answers DISP_E_EXCEPTION.
HResult reportFailure(SignState& state, std::u16string_view message);
HResult reportFailure(SignState& state, std::u16string_view format, diag::FormatArgs args);
// Reports a Failure from member work; an untraced one sets the error
// information without a trace line.
HResult reportFailure(SignState& state, const diag::Failure& failure);

// Sets error information without a trace line and answers `status`.
HResult reportUntraced(std::u16string_view message, HResult status = hr::DISP_E_EXCEPTION);

// The object trace: to the per-object log and the global log.
void traceObject(const SignState& state, std::u16string_view format, diag::FormatArgs args = {});

}  // namespace tessal::facade

namespace tessal::facade {

inline constexpr std::u16string_view kEnvironmentRefused = u"Neleistina komponentės veikimo aplinka";

// guardMember around the environment gate and then the body.
HResult gatedMember(SignState& state, const std::function<HResult()>& body);

// Answers an Outcome of member work: the value through `deliver`, or the failure reported.
template <typename T, typename Deliver>
HResult answer(SignState& state, diag::Outcome<T>&& outcome, Deliver&& deliver) {
    if (!outcome.ok()) return reportFailure(state, outcome.failure());
    deliver(std::move(outcome.value()));
    return hr::S_OK;
}

}  // namespace tessal::facade
