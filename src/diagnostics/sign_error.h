#pragma once
// The one exception of the system: an operating-system fault turned into a
// message of at most 255 characters, caught by the guard around every member.
#include <string>
#include <utility>

namespace tessal::diag {

class SignError {
public:
    explicit SignError(std::u16string message) : message_(std::move(message)) {
        if (message_.size() > 255) message_.resize(255);
    }
    const std::u16string& message() const { return message_; }

private:
    std::u16string message_;
};

}  // namespace tessal::diag
