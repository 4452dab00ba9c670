#include "xmlsig/xml_parse.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <memory>
#include <mutex>

#include "xmlsig/xml_document.h"

namespace tessal::xml {

namespace {

struct ParserContextFree {
    void operator()(xmlParserCtxtPtr ctxt) const { xmlFreeParserCtxt(ctxt); }
};
using OwnedParserContext = std::unique_ptr<xmlParserCtxt, ParserContextFree>;

// The parse running on this thread, so the loader can tell which parse asked
// for an outside resource. Parses of other code (no active parse) are refused
// all the same, only without the bookkeeping.
struct ActiveParse {
    xmlParserCtxtPtr context = nullptr;
    bool refused = false;
    std::string resource;
    int line = 0;
};
thread_local ActiveParse* activeParse = nullptr;

class ActiveParseScope {
public:
    explicit ActiveParseScope(ActiveParse* parse) : previous_(activeParse) { activeParse = parse; }
    ~ActiveParseScope() { activeParse = previous_; }
    ActiveParseScope(const ActiveParseScope&) = delete;
    ActiveParseScope& operator=(const ActiveParseScope&) = delete;

private:
    ActiveParse* previous_;
};

// Loads nothing. Any outside resource (an external entity, general or
// parameter, or the external DTD subset) marks the parse as failed: its
// content would otherwise silently vanish from the document, and a file read
// as a DTD would leak through the parser's messages.
xmlParserInputPtr refusingLoader(const char* url, const char* id, xmlParserCtxtPtr) {
    ActiveParse* parse = activeParse;
    if (parse == nullptr) return nullptr;
    if (!parse->refused) {
        parse->refused = true;
        parse->resource = url ? url : (id ? id : "");
        parse->line = xmlSAX2GetLineNumber(parse->context);
    }
    return nullptr;
}

// The parser keeps its reports in the context; none goes to standard error.
void keepSilent(void*, xmlErrorPtr) {}

void trimTrailingSpace(std::string& text) {
    const std::size_t end = text.find_last_not_of(" \t\r\n\v\f");
    text.erase(end == std::string::npos ? 0 : end + 1);
}

}  // namespace

void refuseExternalResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refusingLoader);
    });
}

ParseOutcome parseDocument(const char* data, std::size_t size, bool nulTerminated) {
    refuseExternalResources();
    ParseOutcome outcome;
    if (data == nullptr || (!nulTerminated && size > static_cast<std::size_t>(INT_MAX))) return outcome;
    OwnedParserContext context(xmlNewParserCtxt());
    if (!context) return outcome;
    context->sax->serror = keepSilent;

    ActiveParse parse;
    parse.context = context.get();
    {
        ActiveParseScope scope(&parse);
        const xmlDocPtr doc =
            nulTerminated
                ? xmlCtxtReadDoc(context.get(), reinterpret_cast<const xmlChar*>(data), nullptr, nullptr, kParseOptions)
                : xmlCtxtReadMemory(context.get(), data, static_cast<int>(size), nullptr, nullptr, kParseOptions);
        outcome.doc.reset(doc);
    }
    if (parse.refused) {
        // The wording of the parser's own loader for the same failure.
        outcome.doc.reset();
        outcome.message = ParserMessage{parse.line, "failed to load external entity \"" + parse.resource + "\"",
                                        XML_IO_LOAD_ERROR};
        return outcome;
    }
    const xmlError* last = xmlCtxtGetLastError(context.get());
    if (last != nullptr && last->code != XML_ERR_OK) {
        outcome.message = ParserMessage{last->line, last->message ? last->message : "", last->code};
    }
    return outcome;
}

std::string parseReport(const std::optional<ParserMessage>& message, std::string_view fragment) {
    std::string report;
    if (message) {
        if (message->line > 0) report += "\r\nKlaida eilutėje : " + std::to_string(message->line);
        std::string text = message->message;
        trimTrailingSpace(text);
        report += "\r\n" + text;
        if (message->code > 0) report += "\r\nKlaidos kodas : " + std::to_string(message->code);
    }
    report += "\r\nXML duomenų fragmentas:\r\n";
    report += fragment;
    return report;
}

xmlDocPtr parseBytes(const char* data, std::size_t size) {
    return parseDocument(data, size, false).doc.release();
}

}  // namespace tessal::xml
