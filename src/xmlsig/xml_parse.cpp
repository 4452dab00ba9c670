#include "xmlsig/xml_parse.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "xmlsig/xml_document.h"

namespace tessal::xml {

namespace {

struct ParserContextFree {
    void operator()(xmlParserCtxtPtr ctxt) const { xmlFreeParserCtxt(ctxt); }
};
using OwnedParserContext = std::unique_ptr<xmlParserCtxt, ParserContextFree>;

// What one parse noted beside the parser's own reports; the context's
// _private points at it while the parse runs.
struct ParseNotes {
    // The first external entity the document used: the parse fails with it.
    std::optional<ParserMessage> refusedEntity;
    // The first entity reference that no loaded declaration defines (it may
    // stand in the external subset, which is never read).
    std::optional<ParserMessage> undeclaredEntity;
    // Every "id" attribute with its element, in document order.
    std::vector<std::pair<std::string, xmlNodePtr>> ids;
};

ParseNotes& notesOf(void* userData) {
    return *static_cast<ParseNotes*>(static_cast<xmlParserCtxtPtr>(userData)->_private);
}

// Stops the parse at an external entity it would otherwise load: its content
// would silently vanish from the document or pull a local file into it. The
// wording is that of the parser's own loader for the same failure.
void refuse(xmlParserCtxtPtr context, const xmlEntity* entity) {
    ParseNotes& notes = notesOf(context);
    if (!notes.refusedEntity) {
        const xmlChar* resource = entity->URI ? entity->URI : (entity->SystemID ? entity->SystemID : entity->ExternalID);
        notes.refusedEntity = ParserMessage{xmlSAX2GetLineNumber(context),
                                            std::string("failed to load external entity \"") +
                                                (resource ? reinterpret_cast<const char*>(resource) : "") + "\"",
                                            XML_IO_LOAD_ERROR};
    }
    xmlStopParser(context);
}

// The entity a reference names, unless it is an external parsed entity. The
// lookup comes before libxml2's own, which would load such an entity at once.
xmlEntityPtr entityUnlessExternal(void* userData, const xmlChar* name) {
    const auto context = static_cast<xmlParserCtxtPtr>(userData);
    const xmlEntityPtr declared = context->myDoc ? xmlGetDocEntity(context->myDoc, name) : nullptr;
    if (declared != nullptr && declared->etype == XML_EXTERNAL_GENERAL_PARSED_ENTITY &&
        (context->inSubset != 0 || xmlGetPredefinedEntity(name) == nullptr)) {
        refuse(context, declared);
        return nullptr;
    }
    return xmlSAX2GetEntity(userData, name);
}

xmlEntityPtr parameterEntityUnlessExternal(void* userData, const xmlChar* name) {
    const xmlEntityPtr declared = xmlSAX2GetParameterEntity(userData, name);
    if (declared != nullptr && declared->etype == XML_EXTERNAL_PARAMETER_ENTITY) {
        refuse(static_cast<xmlParserCtxtPtr>(userData), declared);
        return nullptr;
    }
    return declared;
}

// Reads the "id" attributes of each element as the parser makes it, while
// they are fresh in memory, so the document's Id index needs no later walk
// over the whole tree. The element's own attributes are read, defaults from
// the DTD included, exactly as the walk would read them.
void startElementNotingIds(void* userData, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri,
                           int namespaceCount, const xmlChar** namespaces, int attributeCount, int defaultedCount,
                           const xmlChar** attributes) {
    xmlSAX2StartElementNs(userData, localName, prefix, uri, namespaceCount, namespaces, attributeCount, defaultedCount,
                          attributes);
    const auto context = static_cast<xmlParserCtxtPtr>(userData);
    xmlNodePtr element = context->node;
    if (element == nullptr || element->type != XML_ELEMENT_NODE || attributeCount == 0) return;
    forEachIdOf(element, [&](std::string&& id) { notesOf(userData).ids.emplace_back(std::move(id), element); });
}

// The caller's bytes handed to the parser a block at a time. Unlike a parse
// from memory, which first copies the whole input into a buffer of its own,
// the parser then holds only the part it is reading.
struct MemoryReader {
    const char* next;
    std::size_t left;
};

int readFromMemory(void* context, char* buffer, int length) {
    auto& reader = *static_cast<MemoryReader*>(context);
    const std::size_t count = std::min(reader.left, static_cast<std::size_t>(std::max(length, 0)));
    std::memcpy(buffer, reader.next, count);
    reader.next += count;
    reader.left -= count;
    return static_cast<int>(count);
}

// The external DTD subset is never read: a stored document that names one
// parses as if it had none, and no file is opened for it.
void skipExternalSubset(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}

// The parser keeps its reports in the context; none goes to standard error.
// The first entity reference left without a definition is noted.
void keepSilent(void* userData, xmlErrorPtr error) {
    if (userData == nullptr || error == nullptr || error->code != XML_WAR_UNDECLARED_ENTITY) return;
    ParseNotes& notes = notesOf(userData);
    if (!notes.undeclaredEntity) {
        notes.undeclaredEntity = ParserMessage{error->line, error->message ? error->message : "", error->code};
    }
}

void trimTrailingSpace(std::string& text) {
    const std::size_t end = text.find_last_not_of(" \t\r\n\v\f");
    text.erase(end == std::string::npos ? 0 : end + 1);
}

}  // namespace

// External resources are refused through this parse's own SAX handlers, so
// libxml2's process-wide entity loader stays as the host program set it (or
// as libxml2 has it by default) for every parse that is not the component's.
ParseOutcome parseDocument(const char* data, std::size_t size, bool nulTerminated) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    ParseOutcome outcome;
    if (data == nullptr || (!nulTerminated && size > static_cast<std::size_t>(INT_MAX))) return outcome;
    OwnedParserContext context(xmlNewParserCtxt());
    if (!context) return outcome;
    ParseNotes notes;
    context->_private = &notes;
    context->userData = context.get();
    context->sax->serror = keepSilent;
    context->sax->externalSubset = skipExternalSubset;
    context->sax->getEntity = entityUnlessExternal;
    context->sax->getParameterEntity = parameterEntityUnlessExternal;
    context->sax->startElementNs = startElementNotingIds;

    MemoryReader reader{data, size};
    const xmlDocPtr doc =
        nulTerminated
            ? xmlCtxtReadDoc(context.get(), reinterpret_cast<const xmlChar*>(data), nullptr, nullptr, kParseOptions | XML_PARSE_COMPACT)
            : xmlCtxtReadIO(context.get(), readFromMemory, nullptr, &reader, nullptr, nullptr, kParseOptions | XML_PARSE_COMPACT);
    outcome.doc.reset(doc);
    if (notes.refusedEntity || notes.undeclaredEntity) {
        outcome.doc.reset();
        outcome.message = notes.refusedEntity ? notes.refusedEntity : notes.undeclaredEntity;
        return outcome;
    }
    // Elements that entity references bring in may be copied without passing
    // through the handler above; a document with a DTD gets its index from a walk.
    if (doc != nullptr && doc->intSubset == nullptr && doc->extSubset == nullptr) {
        outcome.ids = std::move(notes.ids);
        outcome.idsNoted = true;
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
