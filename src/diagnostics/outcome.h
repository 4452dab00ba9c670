#pragma once
// What a member's work answers to the façade: a value, or a finished failure
// message that the façade reports (trace line, error information,
// DISP_E_EXCEPTION). `untraced` marks the one failure reported without a
// trace line (a cancelled save dialog).
#include <optional>
#include <string>
#include <utility>

namespace tessal::diag {

struct Failure {
    std::u16string message;
    bool untraced = false;
};

template <typename T>
class Outcome {
public:
    Outcome(T value) : value_(std::move(value)) {}
    Outcome(Failure failure) : failure_(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    const T& value() const { return *value_; }
    T& value() { return *value_; }
    const Failure& failure() const { return failure_; }

private:
    std::optional<T> value_;
    Failure failure_;
};

struct Done {};
using Status = Outcome<Done>;
inline Status done() { return Done{}; }

}  // namespace tessal::diag
