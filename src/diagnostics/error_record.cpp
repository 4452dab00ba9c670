#include "diagnostics/error_record.h"

#include <new>

#include "diagnostics/message_catalogue.h"
#include "diagnostics/os_error_text.h"
#include "platform/last_error.h"

namespace tessal::diag {

namespace {

constexpr std::string_view kEntryEnd = ";\r\n";

// The entries of a text: each piece up to and including ";\r\n".
void collectEntries(std::string_view text, std::unordered_set<std::string>& entries) {
    while (!text.empty()) {
        const std::size_t end = text.find(kEntryEnd);
        const std::size_t length = end == std::string_view::npos ? text.size() : end + kEntryEnd.size();
        entries.emplace(text.substr(0, length));
        text.remove_prefix(length);
    }
}

}  // namespace

RecordText::RecordText(Utf8Text text) : joined_(std::move(text.str())) { collectEntries(joined_, entries_); }

RecordText& RecordText::operator=(Utf8Text text) {
    *this = RecordText(std::move(text));
    return *this;
}

void RecordText::join() const {
    if (newer_.empty()) return;
    std::string whole;
    whole.reserve(newerSize_ + joined_.size());
    for (auto piece = newer_.rbegin(); piece != newer_.rend(); ++piece) whole += *piece;
    whole += joined_;
    joined_ = std::move(whole);
    newer_.clear();
    newerSize_ = 0;
}

const std::string& RecordText::str() const {
    join();
    return joined_;
}

std::size_t RecordText::size() const { return newerSize_ + joined_.size(); }

void RecordText::prependEntry(std::string entry) {
    if (entries_.count(entry) != 0) return;
    entries_.insert(entry);
    newerSize_ += entry.size();
    newer_.push_back(std::move(entry));
}

void RecordText::prependText(const RecordText& other) {
    const std::string& whole = other.str();
    if (whole.empty()) return;
    std::string piece = whole;
    if (&other != this) entries_.insert(other.entries_.begin(), other.entries_.end());
    newerSize_ += piece.size();
    newer_.push_back(std::move(piece));
}

void ErrorRecord::merge(const ErrorRecord& other) {
    lastError = other.lastError;
    code = other.code;
    text.prependText(other.text);
}

std::u16string formatEntry(std::uint32_t lastError, std::int32_t code, int index, FormatArgs args) {
    std::u16string entry;
    if (index >= kCatalogueSize) {
        entry = kUnknownCryptoFailure;
    } else {
        entry = formatWide(catalogueFormat(index), args);
    }
    if (code != 0) {
        entry += u" : ";
        const std::string digits = std::to_string(code);
        entry.append(digits.begin(), digits.end());
    }
    if (lastError != 0) {
        entry += u"\r\n";
        entry += osErrorText(lastError);
    }
    entry += u";\r\n";
    return entry;
}

void recordErrorCode(ErrorRecord& record, std::uint32_t errorCodeValue, int place, int index, FormatArgs args) {
    record.lastError = errorCodeValue;
    record.code = errorCode(place, index);
    platform::setLastError(0);
    try {
        // The same failure recorded again leaves one copy of its text.
        record.text.prependEntry(utf8Encode(formatEntry(record.lastError, record.code, index, args)));
    } catch (const std::bad_alloc&) {
        // Out of memory: the codes are kept, the text stays as it was.
    }
}

void recordError(ErrorRecord& record, int place, int index, FormatArgs args) {
    recordErrorCode(record, platform::lastError(), place, index, args);
}

}  // namespace tessal::diag
