#include "data/file_members.h"

#include <vector>

#include "diagnostics/ansi_text.h"
#include "diagnostics/utf8_text.h"
#include "diagnostics/wide_format.h"
#include "platform/file_system.h"
#include "platform/last_error.h"

namespace tessal::data {

namespace {

constexpr std::u16string_view kReadFailed = u"Klaida skaitant \"%s\" bylą";
constexpr std::u16string_view kBadFormat = u"Klaidingas duomenų formatas";
constexpr std::u16string_view kSaveFailed = u"Klaida išsaugant bylą \"%s\" (%d)";
constexpr std::u16string_view kTimeFailed = u"Klaida išrenkant \"%s\" bylos įrašymo laiką";

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool endsWithXml(std::u16string_view name) {
    constexpr std::u16string_view ext = u".xml";
    if (name.size() < ext.size()) return false;
    const auto tail = name.substr(name.size() - ext.size());
    for (std::size_t i = 0; i < ext.size(); ++i) {
        if (asciiLower(tail[i]) != ext[i]) return false;
    }
    return true;
}

bool isWhite(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

diag::Failure failure(std::u16string_view format, diag::FormatArgs args) {
    return diag::Failure{diag::formatWide(format, args)};
}

enum class TextForm { Utf8, Utf16Little, Utf16Big };

// Units of a UTF-16 text; a trailing odd byte is not part of any unit.
std::u16string utf16Units(const Bytes& bytes, std::size_t from, bool swapPairs) {
    std::u16string units;
    units.reserve((bytes.size() - from) / 2);
    for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
        const unsigned first = bytes[i];
        const unsigned second = bytes[i + 1];
        units.push_back(static_cast<char16_t>(swapPairs ? (first << 8) | second : (second << 8) | first));
    }
    return units;
}

}  // namespace

bool isXmlFileName(std::u16string_view name) { return endsWithXml(name); }

bool isXmlFileName(std::string_view name) {
    if (name.size() < 4) return false;
    const auto tail = name.substr(name.size() - 4);
    return tail[0] == '.' && (tail[1] | 0x20) == 'x' && (tail[2] | 0x20) == 'm' && (tail[3] | 0x20) == 'l';
}

diag::Outcome<std::u16string> xmlTextOf(const Bytes& bytes) {
    const std::size_t n = bytes.size();
    TextForm form = TextForm::Utf8;
    std::size_t skip = 0;
    if (n >= 1 && bytes[0] == 0) {
        form = TextForm::Utf16Big;
    } else if (n >= 2 && bytes[1] == 0) {
        form = TextForm::Utf16Little;
    } else if (n >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        form = TextForm::Utf16Big;
        skip = 2;
    } else if (n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        form = TextForm::Utf16Little;
        skip = 2;
    } else if (n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        skip = 3;
    }

    std::u16string text;
    if (form == TextForm::Utf8) {
        const std::string_view utf8(reinterpret_cast<const char*>(bytes.data()) + skip, n - skip);
        auto decoded = diag::utf8Decode(utf8);
        // A byte that cannot start a character would cut the document short
        // without notice; such a file is not UTF-8 text.
        if (!decoded.ok) return diag::Failure{std::u16string(kBadFormat)};
        text = std::move(decoded.units);
    } else {
        // Pairs are swapped only when every byte has its partner.
        text = utf16Units(bytes, skip, form == TextForm::Utf16Big && n % 2 == 0);
    }

    std::size_t at = 0;
    while (at < text.size() && isWhite(text[at])) ++at;
    if (at >= text.size() || text[at] != u'<') return diag::Failure{std::u16string(kBadFormat)};
    if (std::u16string_view(text).substr(at).starts_with(u"<?xml")) {
        const auto end = text.find(u"?>", at);
        if (end == std::u16string::npos) return diag::Failure{std::u16string(kBadFormat)};
        at = end + 2;
        while (at < text.size() && isWhite(text[at])) ++at;
        if (at >= text.size() || text[at] != u'<') return diag::Failure{std::u16string(kBadFormat)};
    }
    return text.substr(at);
}

diag::Outcome<std::u16string> readFileTextAt(const std::string& path, std::u16string_view shownName,
                                             platform::FileKind kind) {
    Bytes bytes;
    if (!platform::readWholeFile(path, bytes, kind)) return failure(kReadFailed, {shownName});
    if (isXmlFileName(std::string_view(path))) return xmlTextOf(bytes);
    std::string base64;
    base64Encode(bytes, base64);  // an empty file gives an empty text
    return std::u16string(base64.begin(), base64.end());
}

diag::Outcome<std::u16string> readFileText(std::u16string_view name) {
    return readFileTextAt(diag::toAnsiName(name), name);
}

diag::Status saveDocument(std::u16string_view name, const std::uint8_t* data, std::size_t size) {
    if (!platform::writeFileAtomically(diag::toAnsiName(name), data, size)) {
        return failure(kSaveFailed, {name, static_cast<int>(platform::lastError())});
    }
    return diag::done();
}

std::u16string withXmlExtension(std::u16string chosen) {
    if (!endsWithXml(chosen)) chosen += u".xml";
    return chosen;
}

diag::Outcome<std::u16string> fileTimeText(std::u16string_view name) {
    platform::FileTimes times;
    if (!platform::fileTimes(diag::toAnsiName(name), times)) return failure(kTimeFailed, {name});
    const auto& chosen = times.lastWrite ? times.lastWrite : times.creation;
    platform::CalendarTime local;
    if (!chosen || !platform::toLocalCalendar(*chosen, local)) return failure(kTimeFailed, {name});
    return diag::formatWide(u"%d-%02d-%02d %02d:%02d:%02d.%03d",
                            {local.year, local.month, local.day, local.hour, local.minute, local.second,
                             local.millisecond});
}

}  // namespace tessal::data
