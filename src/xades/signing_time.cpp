#include "xades/signing_time.h"

#include <ctime>
#include <string>

#include "xades/xades_texts.h"
#include "xmlsig/xml_document.h"

namespace tessal::xml {

namespace {

constexpr int kMalformedMessage = 81;

// A decimal number that stops at the first non-digit.
int numberAt(std::string_view text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count && i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') break;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

struct Fields {
    int year, month, day, hour, minute, second = 0;
};

// The fields must name a real calendar moment.
bool validCalendar(const Fields& f) {
    if (f.year < 1601 || f.month < 1 || f.month > 12 || f.day < 1 || f.hour > 23 || f.minute > 59 || f.second > 59) {
        return false;
    }
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (f.year % 4 == 0 && f.year % 100 != 0) || f.year % 400 == 0;
    return f.day <= kDays[f.month - 1] + (f.month == 2 && leap ? 1 : 0);
}

std::tm tmOf(const Fields& f) {
    std::tm tm{};
    tm.tm_year = f.year - 1900;
    tm.tm_mon = f.month - 1;
    tm.tm_mday = f.day;
    tm.tm_hour = f.hour;
    tm.tm_min = f.minute;
    tm.tm_sec = f.second;
    return tm;
}

std::optional<crypto::FileTime> utcOf(const Fields& f, int offsetMinutes) {
    if (!validCalendar(f)) return std::nullopt;
    std::tm tm = tmOf(f);
    return crypto::fileTimeOfSeconds(static_cast<std::int64_t>(timegm(&tm)) - offsetMinutes * 60);
}

std::optional<crypto::FileTime> localOf(const Fields& f) {
    if (!validCalendar(f)) return std::nullopt;
    std::tm tm = tmOf(f);
    tm.tm_isdst = -1;  // the zone rules of that date decide
    const std::time_t seconds = std::mktime(&tm);
    if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
    return crypto::fileTimeOfSeconds(static_cast<std::int64_t>(seconds));
}

// "+hh:mm" or "-hh:mm" from `at` to the end of the text.
std::optional<crypto::FileTime> withZone(std::string_view text, std::size_t at, const Fields& f) {
    const std::string_view zone = text.substr(at + 1);
    if (zone.size() != 5 || zone[2] != ':') return std::nullopt;
    const int offset = numberAt(zone, 0, 2) * 60 + numberAt(zone, 3, 2);
    return utcOf(f, text[at] == '+' ? offset : -offset);
}

}  // namespace

std::optional<crypto::FileTime> parseSigningTime(std::string_view raw) {
    const std::string_view text = trimmedSpace(raw);
    const std::size_t length = text.size();
    if (length < 16) return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':') return std::nullopt;
    Fields f{numberAt(text, 0, 4), numberAt(text, 5, 2), numberAt(text, 8, 2), numberAt(text, 11, 2),
             numberAt(text, 14, 2)};
    if (length == 16) return localOf(f);
    switch (text[16]) {
        case 'Z': return length == 17 ? utcOf(f, 0) : std::nullopt;
        case '+':
        case '-': return withZone(text, 16, f);
        case ':': break;
        default: return std::nullopt;
    }
    if (length < 19) return std::nullopt;
    f.second = numberAt(text, 17, 2);
    if (length == 19) return localOf(f);
    switch (text[19]) {
        case 'Z': return length == 20 ? utcOf(f, 0) : std::nullopt;
        case '+':
        case '-': return withZone(text, 19, f);
        case '.': break;
        default: return std::nullopt;
    }
    std::size_t i = 20;
    while (i < length && text[i] != 'Z' && text[i] != '+' && text[i] != '-') {
        if (!isDigit(text[i])) return std::nullopt;
        ++i;
    }
    if (i == length) return localOf(f);
    if (text[i] == 'Z') return i + 1 == length ? utcOf(f, 0) : std::nullopt;
    return withZone(text, i, f);
}

crypto::FileTime readSigningTime(xmlNodePtr signedProperties, diag::ErrorRecord& error) {
    if (signedProperties == nullptr) return 0;
    xmlNodePtr node = signedProperties->children;
    while (node) {
        if (isIgnorable(node)) {
            node = node->next;
            continue;
        }
        if (node->type != XML_ELEMENT_NODE) {
            diag::recordErrorCode(error, 0, 436, kMalformedMessage);
            return 0;
        }
        if (nameIs(node, "SigningTime")) break;
        // The property container is entered and never left again.
        if (nameIs(node, "SignedSignatureProperties")) {
            node = node->children;
        } else {
            node = node->next;
        }
    }
    if (!node) return 0;
    const std::optional<std::string> text = firstChildText(node);
    if (!text) {
        diag::recordErrorCode(error, 0, 437, kMalformedMessage);
        return 0;
    }
    const std::optional<crypto::FileTime> time = parseSigningTime(*text);
    if (!time) {
        diag::recordErrorCode(error, 0, 438, kMalformedMessage);
        return 0;
    }
    return *time;
}

}  // namespace tessal::xml
