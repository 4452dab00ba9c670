#pragma once
// The error record every working object carries: the platform error and the
// code of the newest entry, and all entries so far, newest first, each ending
// with ";\r\n". Failures are recorded and merged upward, never thrown.
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "diagnostics/utf8_text.h"
#include "diagnostics/wide_format.h"

namespace tessal::diag {

// The text of a record, newest entry first. Entries are kept in the order
// they came and joined once when the text is read, and the entries already
// present are known by hash, so a record of many entries costs time linear
// in their length rather than quadratic.
class RecordText {
public:
    RecordText() = default;
    // A text assembled elsewhere; its entries are those ending in ";\r\n".
    RecordText(Utf8Text text);  // NOLINT(google-explicit-constructor): records are written as {error, code, text}
    RecordText& operator=(Utf8Text text);

    const std::string& str() const;
    std::u16string utf16() const { return utf16Of(str()); }
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    bool operator==(const RecordText& other) const { return str() == other.str(); }

    // Puts `entry` in front, unless the same entry is already in the text.
    void prependEntry(std::string entry);
    // Puts the whole text of `other` in front.
    void prependText(const RecordText& other);

private:
    void join() const;

    mutable std::string joined_;               // the older part of the text, joined
    mutable std::vector<std::string> newer_;   // pieces put in front since, oldest first
    mutable std::size_t newerSize_ = 0;
    std::unordered_set<std::string> entries_;  // the entries in the text
};

struct ErrorRecord {
    std::uint32_t lastError = 0;
    std::int32_t code = 0;
    RecordText text;

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
