#include "diagnostics/log_file.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "build_settings.h"
#include "diagnostics/ansi_text.h"
#include "diagnostics/os_error_text.h"
#include "diagnostics/utf8_text.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "platform/file_append.h"
#include "platform/last_error.h"

namespace tessal::diag {

namespace {

constexpr int kAppendAttempts = 41;
constexpr auto kAppendPause = std::chrono::milliseconds(10);
// The value had to fit a buffer of this many bytes, terminator included.
constexpr std::size_t kLogPathBuffer = 260;

// Written at start-up (or by the test seam) and read without a lock afterwards.
std::string globalPath;
std::once_flag globalPathRead;

std::string readGlobalLogPath() {
    const auto value = platform::configValue(platform::kProductKey, "logFilePath");
    // A value too long for its buffer could not be read: the log stays off.
    if (!value || value->size() + 1 > kLogPathBuffer) return {};
    std::string path = *value;
    const auto last = path.find_last_not_of("\r\n\t ");
    path.erase(last == std::string::npos ? 0 : last + 1);
    return path;
}

bool endsWithLineBreak(std::string_view text) {
    return !text.empty() && (text.back() == '\r' || text.back() == '\n');
}

// A trace must not disturb the error the caller is about to record.
class LastErrorKept {
public:
    LastErrorKept() : saved_(platform::lastError()) {}
    ~LastErrorKept() { platform::setLastError(saved_); }
    LastErrorKept(const LastErrorKept&) = delete;
    LastErrorKept& operator=(const LastErrorKept&) = delete;

private:
    std::uint32_t saved_;
};

}  // namespace

void initialiseGlobalLog() {
    std::call_once(globalPathRead, [] {
        globalPath = readGlobalLogPath();
        if (globalPath.empty()) return;
        traceGlobal(u"Įjungtas detalus įvykių registras byloje \"%s\"", {fromAnsi(globalPath)});
        traceGlobal(u"Failo versija: %S", {TESSAL_VERSION_TEXT});
        if (platform::is32BitProcessOn64BitSystem()) traceGlobal(u"32-ių bitų aplikacija veikia 64-bitų platformoje\r\n");
    });
}

const std::string& globalLogPath() { return globalPath; }

void setGlobalLogPathForTesting(std::string path) {
    // Consumes the one reading so that a later initialiseGlobalLog keeps it.
    std::call_once(globalPathRead, [] {});
    globalPath = std::move(path);
}

std::string traceLine(std::u16string_view message) {
    const platform::LocalTime t = platform::localTimeNow();
    std::string line = formatNarrow("%04d-%02d-%02d %02d:%02d:%02d,%03d  I  [%lu/%lu] ",
                                    {t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond,
                                     platform::currentProcessId(), platform::currentThreadId()});
    line += utf8Encode(message);
    if (!endsWithLineBreak(line)) line += "\r\n";
    return line;
}

bool traceGlobal(std::u16string_view format, FormatArgs args) {
    if (globalPath.empty()) return true;
    LastErrorKept kept;
    try {
        return appendToFile(globalPath, traceLine(formatWide(format, args)));
    } catch (...) {
        return false;
    }
}

bool traceGlobalWithOsError(std::u16string_view format, FormatArgs args) {
    if (globalPath.empty()) return true;
    LastErrorKept kept;
    try {
        std::u16string message = formatWide(format, args);
        message += u"\r\n";
        message += osErrorText(platform::lastError());
        return appendToFile(globalPath, traceLine(message));
    } catch (...) {
        return false;
    }
}

bool traceObject(std::string_view objectLogPath, std::u16string_view format, FormatArgs args) {
    LastErrorKept kept;
    try {
        return writeText(objectLogPath, traceLine(formatWide(format, args)));
    } catch (...) {
        return false;
    }
}

bool writeText(std::string_view path, std::string_view utf8) {
    try {
        bool result = true;
        std::uint32_t firstError = platform::lastError();
        if (!path.empty()) {
            result = appendToFile(path, utf8);
            firstError = platform::lastError();
        }
        // Paths that differ in letter case name two files here, and both get the line.
        if (!globalPath.empty() && globalPath != path) {
            appendToFile(globalPath, utf8);
            // The caller reports the first append's error, not the copy's.
            platform::setLastError(firstError);
        }
        return result;
    } catch (...) {
        return false;
    }
}

bool appendToFile(std::string_view path, std::string_view utf8) {
    if (path.empty()) return false;
    try {
        const std::string file(path);
        for (int attempt = 1; attempt <= kAppendAttempts; ++attempt) {
            if (platform::appendOnce(file, utf8)) return true;
            if (attempt < kAppendAttempts) std::this_thread::sleep_for(kAppendPause);
        }
        return false;
    } catch (...) {
        return false;
    }
}

}  // namespace tessal::diag
