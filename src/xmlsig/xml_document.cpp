#include "xmlsig/xml_document.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "diagnostics/utf8_text.h"

namespace tessal::xml {

namespace {

constexpr int kPlaceParse = 301;
constexpr int kMessageBadXml = 49;
constexpr int kMessageNoXml = 94;
constexpr std::size_t kFragmentLimit = 2000;

// Set when the current parse on this thread asked for an external resource.
thread_local bool externalResourceRefused = false;
thread_local std::string refusedResource;

// Loads nothing: an external entity or DTD subset makes the parse fail
// instead of reading a file of the user or a network resource.
xmlParserInputPtr loadNothing(const char* url, const char* id, xmlParserCtxtPtr) {
    if (!externalResourceRefused) refusedResource = url ? url : id ? id : "";
    externalResourceRefused = true;
    return nullptr;
}

// The parser's messages go into its last error, which the report quotes,
// and not to the process's standard error.
void ignoreParserMessage(void*, const char*, ...) {}
void ignoreStructuredError(void*, xmlErrorPtr) {}

// Runs one parse; a document that needed an external resource is dropped.
template <typename Parse>
xmlDocPtr parseRefusingExternal(Parse&& parse) {
    refuseExternalResources();
    // libxml2 keeps its error handlers per thread.
    xmlSetGenericErrorFunc(nullptr, ignoreParserMessage);
    xmlSetStructuredErrorFunc(nullptr, ignoreStructuredError);
    externalResourceRefused = false;
    xmlDocPtr doc = parse();
    if (externalResourceRefused && doc) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    return doc;
}

const char* contentOf(const xmlNode* node) {
    return node && node->content ? reinterpret_cast<const char*>(node->content) : nullptr;
}

std::string_view nameOf(const xmlNode* node) {
    return node && node->name ? std::string_view(reinterpret_cast<const char*>(node->name)) : std::string_view();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The report that follows "Klaidingas XML dokumentas": the parser's line,
// message and code, and the start of the input.
std::string errorReport(const xmlError* error, std::string_view fragment) {
    std::string report;
    if (error) {
        if (error->line > 0) report += "\r\nKlaida eilutėje : " + std::to_string(error->line);
        std::string message = error->message ? error->message : "";
        message.erase(message.find_last_not_of(" \t\r\n") + 1);
        report += "\r\n" + message;
        if (error->code > 0) report += "\r\nKlaidos kodas : " + std::to_string(error->code);
    }
    report += "\r\nXML duomenų fragmentas:\r\n";
    report += fragment;
    return report;
}

}  // namespace

void refuseExternalResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(loadNothing);
    });
}

xmlDocPtr parseBytes(const char* data, std::size_t size) {
    if (size > static_cast<std::size_t>(INT32_MAX)) return nullptr;
    return parseRefusingExternal(
        [&] { return xmlReadMemory(data, static_cast<int>(size), nullptr, nullptr, kParseOptions); });
}

XmlDocument::XmlDocument() = default;

XmlDocument::XmlDocument(const void* input, std::size_t size) { parse(input, size); }

XmlDocument::~XmlDocument() {
    releaseText();
    releaseTree();
}

bool XmlDocument::parse(const void* input, std::size_t size) {
    releaseText();
    releaseTree();
    refuseExternalResources();
    const auto* bytes = static_cast<const char*>(input);
    if (!bytes || size < 3) {
        diag::recordErrorCode(error_, 0, kPlaceParse, kMessageNoXml);
        return false;
    }
    xmlResetLastError();
    std::string fragment;
    const bool byteInput = bytes[0] != 0 && bytes[1] != 0;
    if (byteInput) {
        tree_ = parseBytes(bytes, size);
        if (!tree_ || !xmlDocGetRootElement(tree_)) fragment.assign(bytes, std::min(size, kFragmentLimit));
    } else {
        std::u16string units(size / 2, u'\0');
        std::memcpy(units.data(), bytes, units.size() * 2);
        const std::string utf8 = diag::utf8Encode(units);
        tree_ = parseRefusingExternal(
            [&] { return xmlReadDoc(reinterpret_cast<const xmlChar*>(utf8.c_str()), nullptr, nullptr, kParseOptions); });
        if (!tree_ || !xmlDocGetRootElement(tree_)) {
            const std::size_t shown = size <= 2 * 2 * kFragmentLimit ? units.size() : kFragmentLimit;
            fragment = diag::utf8Encode(std::u16string_view(units).substr(0, shown));
        }
    }
    if (tree_ && xmlDocGetRootElement(tree_)) return true;
    xmlError refusal{};
    const xmlError* parserError = xmlGetLastError();
    const std::string refusalText = "failed to load external entity \"" + refusedResource + "\"";
    if (externalResourceRefused && (!parserError || parserError->code == XML_ERR_OK)) {
        refusal.code = XML_IO_LOAD_ERROR;
        refusal.message = const_cast<char*>(refusalText.c_str());
        parserError = &refusal;
    }
    const std::string report = errorReport(parserError, fragment);
    diag::recordErrorCode(error_, 0, kPlaceParse, kMessageBadXml, {report});
    releaseTree();
    return false;
}

xmlNodePtr XmlDocument::rootElement() const { return tree_ ? xmlDocGetRootElement(tree_) : nullptr; }

bool XmlDocument::serialise() {
    releaseText();
    if (!tree_) return false;
    xmlChar* block = nullptr;
    int length = 0;
    xmlDocDumpMemoryEnc(tree_, &block, &length, "UTF-8");
    setText(block, length);
    return text_ != nullptr;
}

std::string_view XmlDocument::text() const {
    return text_ ? std::string_view(reinterpret_cast<const char*>(text_), static_cast<std::size_t>(textLength_))
                 : std::string_view();
}

void XmlDocument::releaseText() {
    if (text_) xmlFree(text_);
    text_ = nullptr;
    textLength_ = 0;
}

void XmlDocument::releaseTree() {
    if (tree_) xmlFreeDoc(tree_);
    tree_ = nullptr;
}

void XmlDocument::setText(xmlChar* block, int length) {
    releaseText();
    if (block && length > 0) {
        text_ = block;
        textLength_ = length;
    } else if (block) {
        xmlFree(block);
    }
}

void XmlDocument::setTree(xmlDocPtr tree) {
    releaseTree();
    tree_ = tree;
}

xmlNodePtr XmlDocument::elementAtPath(std::string_view path) const {
    if (path.size() < 2 || !tree_) return nullptr;
    if (path.size() > 2047) path = path.substr(0, 2047);
    const std::size_t first = path.find_first_not_of('/');
    if (first == std::string_view::npos) return nullptr;
    path = path.substr(first, path.find_last_not_of('/') - first + 1);

    xmlNodePtr candidates = rootElement();
    xmlNodePtr found = nullptr;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        const std::string_view component = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
        found = nullptr;
        for (xmlNodePtr n = candidates; n; n = n->next) {
            if (nameOf(n) == component) {
                found = n;
                break;
            }
        }
        if (!found) return nullptr;
        if (slash == std::string_view::npos) return found;
        candidates = found->children;
        start = slash + 1;
    }
}

std::optional<std::string> XmlDocument::textAtPath(std::string_view path) const {
    return firstChildText(elementAtPath(path));
}

xmlNodePtr XmlDocument::elementByIdInDocument(std::string_view value) const {
    return elementById(rootElement(), value);
}

bool nameIs(const xmlNode* node, std::string_view localName) { return node && nameOf(node) == localName; }

std::optional<std::string> firstChildText(const xmlNode* node) {
    if (!node || !node->children) return std::nullopt;
    if (const char* content = contentOf(node->children)) return std::string(content);
    return std::nullopt;
}

std::optional<std::string> attributeText(const xmlNode* element, std::string_view name) {
    if (!element || element->type != XML_ELEMENT_NODE) return std::nullopt;
    const std::string key(name);
    xmlAttrPtr attr = xmlHasProp(element, reinterpret_cast<const xmlChar*>(key.c_str()));
    if (!attr || !attr->children) return std::nullopt;
    if (const char* content = contentOf(attr->children)) return std::string(content);
    return std::nullopt;
}

bool isIgnorable(const xmlNode* node) {
    if (!node) return false;
    if (node->type == XML_COMMENT_NODE) return true;
    if (node->type != XML_TEXT_NODE && node->type != XML_CDATA_SECTION_NODE) return false;
    return xmlIsBlankNode(node) != 0;
}

namespace {

xmlNodePtr searchById(xmlNodePtr start, std::string_view value, int depth) {
    // Depth is bounded by the parser's own nesting limit; the guard keeps a
    // hand-built tree from exhausting the stack.
    if (depth > 10000) return nullptr;
    for (xmlNodePtr n = start; n; n = n->next) {
        if (n->type == XML_ELEMENT_NODE) {
            for (xmlAttrPtr a = n->properties; a; a = a->next) {
                if (!equalsIgnoringCase(nameOf(reinterpret_cast<xmlNodePtr>(a)), "id")) continue;
                const char* content = a->children ? contentOf(a->children) : nullptr;
                if (content && value == content) return n;
            }
        }
        if (xmlNodePtr inner = searchById(n->children, value, depth + 1)) return inner;
    }
    return nullptr;
}

xmlNodePtr searchByName(xmlNodePtr node, std::string_view name, int depth) {
    if (!node || depth > 10000) return nullptr;
    if (nameIs(node, name)) return node;
    for (xmlNodePtr c = node->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (xmlNodePtr found = searchByName(c, name, depth + 1)) return found;
    }
    return nullptr;
}

}  // namespace

xmlNodePtr elementById(xmlNodePtr start, std::string_view value) {
    const std::size_t first = value.find_first_not_of('#');
    value = first == std::string_view::npos ? std::string_view() : value.substr(first);
    return searchById(start, value, 0);
}

xmlNodePtr elementByName(xmlNodePtr node, std::string_view name) { return searchByName(node, name, 0); }

xmlNodePtr firstElementFrom(xmlNodePtr node) {
    while (node && node->type != XML_ELEMENT_NODE) node = node->next;
    return node;
}

}  // namespace tessal::xml
