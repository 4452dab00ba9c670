#pragma once
// One parsed XML text: the tree, its last serialisation (or, in a signature
// job, the last canonical octets) and the error record of its failures.
// The reading conventions every reader of documents follows live here:
// elements and attributes match by local name only, an element's text is the
// content of its first child, and comments and blank text are ignorable.
#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "diagnostics/error_record.h"

namespace tessal::xml {

// libxml2's parse options used for every parse in the system: entities
// substituted, default attributes, no network, redundant namespace
// declarations removed, no XInclude nodes (0xA80A).
inline constexpr int kParseOptions = XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NONET | XML_PARSE_NSCLEAN |
                                     XML_PARSE_NOXINCNODE;

// Parses bytes with kParseOptions and the external-resource refusal; the
// caller owns the result (nothing on failure).
xmlDocPtr parseBytes(const char* data, std::size_t size);

class XmlDocument {
public:
    XmlDocument();
    // Parses at once; `size` is in bytes, for UTF-8/byte input and UTF-16LE alike.
    XmlDocument(const void* input, std::size_t size);
    virtual ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Releases text and tree, then parses; failures are recorded (places 301/94, 301/49).
    bool parse(const void* input, std::size_t size);

    diag::ErrorRecord& error() { return error_; }
    const diag::ErrorRecord& error() const { return error_; }
    bool failed() const { return !error_.empty(); }

    xmlDocPtr tree() const { return tree_; }
    xmlNodePtr rootElement() const;

    // Serialises the tree to UTF-8 with an XML declaration into text().
    bool serialise();
    std::string_view text() const;
    void releaseText();
    void releaseTree();

    xmlNodePtr elementAtPath(std::string_view path) const;
    std::optional<std::string> textAtPath(std::string_view path) const;
    // elementById over the whole tree, answered from an index of the tree's
    // "id" values made by the parse (or at the first lookup, for a tree with
    // a DTD); a tree edited in place must call forgetIds().
    xmlNodePtr elementByIdInDocument(std::string_view value) const;
    void forgetIds() const;

protected:
    // Replaces this document's record, tree and text with copies of `other`'s,
    // for the copy operations of derived holders.
    void assignDocument(const XmlDocument& other);
    // For derived holders that produce their own octets (canonical output).
    void setText(xmlChar* block, int length);
    void setTree(xmlDocPtr tree);

    diag::ErrorRecord error_;
    xmlDocPtr tree_ = nullptr;
    xmlChar* text_ = nullptr;
    int textLength_ = 0;

private:
    // Each "id" value with the first element in document order that carries it.
    mutable std::unordered_map<std::string, xmlNodePtr> ids_;
    mutable bool idsIndexed_ = false;
};

// The reading conventions, usable on any tree.
bool nameIs(const xmlNode* node, std::string_view localName);
// Content of the node's first child; nothing when there is no child or it has no content.
std::optional<std::string> firstChildText(const xmlNode* node);
// An attribute found by local name in any namespace; nothing when absent or empty of children.
std::optional<std::string> attributeText(const xmlNode* element, std::string_view name);
// Comments, and text or CDATA that is empty or only space, tab, CR and LF.
bool isIgnorable(const xmlNode* node);
// The search by "id" attribute (any letter case) from `start` over its
// following siblings, depth first; leading '#' characters of the value are dropped.
xmlNodePtr elementById(xmlNodePtr start, std::string_view value);
// Calls `visit(element, value)` for every "id" attribute (any letter case)
// from `start` over its following siblings, in elementById's order.
void forEachId(xmlNodePtr start, const std::function<void(xmlNodePtr, std::string&&)>& visit);
// The same for the attributes of one element only.
void forEachIdOf(xmlNodePtr element, const std::function<void(std::string&&)>& visit);
// The node itself, else its element descendants depth first.
xmlNodePtr elementByName(xmlNodePtr node, std::string_view name);
// `node` if it is an element, else its first following sibling that is one.
xmlNodePtr firstElementFrom(xmlNodePtr node);

}  // namespace tessal::xml
