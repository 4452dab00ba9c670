#pragma once
// The one parse routine behind every XML parse: a private parser context per
// call, so the error it reports is this parse's own and never another
// thread's, and the external-resource refusal that turns a document needing
// an outside file into a failed parse.
#include <libxml/tree.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xmlsig/libxml_owners.h"

namespace tessal::xml {

// What the parser said last: line (0 when unknown), message and error code.
struct ParserMessage {
    int line = 0;
    std::string message;
    int code = 0;
};

struct ParseOutcome {
    OwnedDoc doc;                          // none when the parse failed
    std::optional<ParserMessage> message;  // the parser's last error or warning
    // The "id" attributes (any letter case) with their elements in document
    // order, when the parse could note them all (idsNoted).
    std::vector<std::pair<std::string, xmlNodePtr>> ids;
    bool idsNoted = false;
};

// `data` is either `size` bytes in any encoding the parser recognises, or,
// with `nulTerminated`, a NUL-terminated UTF-8 string (`size` then unused).
ParseOutcome parseDocument(const char* data, std::size_t size, bool nulTerminated);

// The readable report of a failed parse: the line, the parser's message and
// its code when known, then the fragment header and `fragment`.
std::string parseReport(const std::optional<ParserMessage>& message, std::string_view fragment);

}  // namespace tessal::xml
