#pragma once
// The error record every working object carries: the platform error and the
// code of the newest entry, and all entries so far, newest first, each ending
// with ";\r\n". Failures are recorded and merged upward, never thrown.
#include <cstdint>

#include "diagnostics/utf8_text.h"
#include "diagnostics/wide_format.h"

namespace tessal::diag {

struct ErrorRecord {
    std::uint32_t lastError = 0;
    std::int32_t code = 0;
    Utf8Text text;

    // Takes the other record's codes and puts its whole text in front of ours.
    void merge(const ErrorRecord& other);
    bool empty() const { return text.empty(); }
    bool operator==(const ErrorRecord&) const = default;
};

// (70000 + place) * 1000 + index.
constexpr std::int32_t errorCode(int place, int index) { return (70000 + place) * 1000 + index; }

// The text of one entry, before it is inserted into a record.
std::u16string formatEntry(std::uint32_t lastError, std::int32_t code, int index, FormatArgs args);

// Makes an entry with the thread's last platform error, which is then cleared.
void recordError(ErrorRecord& record, int place, int index, FormatArgs args = {});
// Makes an entry with an error code the API returned as its result.
void recordErrorCode(ErrorRecord& record, std::uint32_t errorCodeValue, int place, int index, FormatArgs args = {});

}  // namespace tessal::diag
