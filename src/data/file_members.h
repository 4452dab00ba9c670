#pragma once
// The work of the file members: reading a file as signable text (XML) or as
// Base64 (anything else), saving a document, and a file's last-write time as
// text. Names arrive as UTF-16 and reach the file system in the locale's
// codeset; failures answer the finished message the caller reports.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/codecs.h"
#include "diagnostics/outcome.h"
#include "platform/file_system.h"

namespace tessal::data {

// True when the last four characters are ".xml", ignoring letter case.
bool isXmlFileName(std::u16string_view name);
// The same on narrow text: ".xml" has the same bytes in every codeset a
// locale uses, also in a name that does not convert cleanly to UTF-16.
bool isXmlFileName(std::string_view name);

// The text of an XML file's bytes: the text form is detected from the first
// bytes, leading white space and the XML declaration are dropped, and the
// answer starts at the root element's "<".
diag::Outcome<std::u16string> xmlTextOf(const Bytes& bytes);

diag::Outcome<std::u16string> readFileText(std::u16string_view name);
// The same for a path already in narrow form (as a directory scan finds it);
// messages carry `shownName`.
diag::Outcome<std::u16string> readFileTextAt(const std::string& path, std::u16string_view shownName,
                                             platform::FileKind kind = platform::FileKind::Any);

// Replaces the file's content with the document's bytes, never leaving a
// half-written file behind.
diag::Status saveDocument(std::u16string_view name, const std::uint8_t* data, std::size_t size);

// A name chosen in the save dialog gets ".xml" unless it already ends so.
std::u16string withXmlExtension(std::u16string chosen);

// "YYYY-MM-DD hh:mm:ss.mmm" of the file's last-write time (else its creation
// time) in local time.
diag::Outcome<std::u16string> fileTimeText(std::u16string_view name);

}  // namespace tessal::data
