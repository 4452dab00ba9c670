#include "platform/stored_pin.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/config.h"
#include "platform/pin_scope.h"
#include "platform/unique_fd.h"

namespace tessal::platform {

namespace {

constexpr const char* kPinVariable = "TESSAL_PIN";
// Longer than any PIN a token takes; a longer first line is no PIN.
constexpr std::size_t kMaxPinBytes = 256;

std::mutex environmentMutex;
std::optional<SecretBuffer> environmentPin;

// The first line of a PIN file, without its line end.
std::optional<SecretBuffer> pinFromFile(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    // One byte beyond the longest PIN tells a PIN from an overlong line.
    SecretBuffer text(kMaxPinBytes + 1);
    text.fillFrom(fd.get());
    const auto end = text.view().find('\n');
    if (end == std::string_view::npos && text.size() > kMaxPinBytes) return std::nullopt;
    std::size_t length = end == std::string_view::npos ? text.size() : end;
    while (length > 0 && text.data()[length - 1] == '\r') --length;
    text.truncate(length);
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace

void takeEnvironmentPin() {
    std::lock_guard lock(environmentMutex);
    const char* value = std::getenv(kPinVariable);
    if (!value) return;
    if (*value) environmentPin = SecretBuffer::of(value);
    // The environment's own bytes are left as they are: a host may have
    // placed them with putenv from read-only memory, where a wipe would fault.
    ::unsetenv(kPinVariable);
}

void forgetEnvironmentPinForTesting() {
    std::lock_guard lock(environmentMutex);
    environmentPin.reset();
}

std::optional<SecretBuffer> storedPin(std::string_view section) {
    takeEnvironmentPin();
    {
        std::lock_guard lock(environmentMutex);
        if (environmentPin) return environmentPin->copy();
    }
    if (const SecretBuffer* kept = pinReadInScope(section)) return kept->copy();
    std::optional<SecretBuffer> pin = configSecret(section, "pin");
    if (!pin || pin->empty()) {
        pin.reset();
        if (auto file = configValue(section, "pinFile"); file && !file->empty()) pin = pinFromFile(*file);
    }
    if (pin) keepPinReadInScope(section, *pin);
    return pin;
}

}  // namespace tessal::platform
