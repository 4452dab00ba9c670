#include "diagnostics/error_record.h"

#include <new>

#include "diagnostics/message_catalogue.h"
#include "diagnostics/os_error_text.h"
#include "platform/last_error.h"

namespace tessal::diag {

void ErrorRecord::merge(const ErrorRecord& other) {
    lastError = other.lastError;
    code = other.code;
    text.str().insert(0, other.text.str());
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
        const std::string entry = utf8Encode(formatEntry(record.lastError, record.code, index, args));
        // The same failure recorded again leaves one copy of its text.
        if (record.text.str().find(entry) == std::string::npos) record.text.str().insert(0, entry);
    } catch (const std::bad_alloc&) {
        // Out of memory: the codes are kept, the text stays as it was.
    }
}

void recordError(ErrorRecord& record, int place, int index, FormatArgs args) {
    recordErrorCode(record, platform::lastError(), place, index, args);
}

}  // namespace tessal::diag
