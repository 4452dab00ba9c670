// The reading conventions every walk over a document tree follows.
#include <libxml/tree.h>


#include "xmlsig/xml_document.h"

namespace tessal::xml {

namespace {

std::string_view nameOf(const xmlNode* node) {
    if (node == nullptr || node->name == nullptr) return {};
    return reinterpret_cast<const char*>(node->name);
}

std::optional<std::string> contentOf(const xmlNode* node) {
    if (node == nullptr || node->content == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(node->content));
}

// Attribute names compare with "id" ignoring letter case: Id and ID count too.
bool isIdName(const xmlChar* name) {
    return name != nullptr && xmlStrcasecmp(name, reinterpret_cast<const xmlChar*>("id")) == 0;
}

}  // namespace

bool nameIs(const xmlNode* node, std::string_view localName) {
    // Nodes without a name (CDATA sections, for one) match nothing.
    if (node == nullptr || node->name == nullptr) return false;
    return nameOf(node) == localName;
}

std::optional<std::string> firstChildText(const xmlNode* node) {
    if (node == nullptr) return std::nullopt;
    return contentOf(node->children);
}

std::optional<std::string> attributeText(const xmlNode* element, std::string_view name) {
    if (element == nullptr || element->type != XML_ELEMENT_NODE) return std::nullopt;
    const std::string key(name);
    const xmlAttrPtr attr = xmlHasProp(const_cast<xmlNode*>(element), reinterpret_cast<const xmlChar*>(key.c_str()));
    // xmlHasProp may answer a DTD declaration rather than an attribute; that has no value here.
    if (attr == nullptr || attr->type != XML_ATTRIBUTE_NODE) return std::nullopt;
    std::optional<std::string> value = contentOf(attr->children);
    if (value && value->empty()) return std::nullopt;
    return value;
}

bool isIgnorable(const xmlNode* node) {
    if (node == nullptr) return false;
    if (node->type == XML_COMMENT_NODE) return true;
    return xmlIsBlankNode(const_cast<xmlNode*>(node)) != 0;
}

xmlNodePtr elementById(xmlNodePtr start, std::string_view value) {
    while (!value.empty() && value.front() == '#') value.remove_prefix(1);
    for (xmlNodePtr node = start; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) {
            if (!isIdName(attr->name)) continue;
            const std::optional<std::string> content = contentOf(attr->children);
            if (content && *content == value) return node;
        }
        if (xmlNodePtr inner = elementById(node->children, value)) return inner;
    }
    return nullptr;
}

void forEachIdOf(xmlNodePtr element, const std::function<void(std::string&&)>& visit) {
    for (xmlAttrPtr attr = element->properties; attr != nullptr; attr = attr->next) {
        if (!isIdName(attr->name)) continue;
        if (std::optional<std::string> content = contentOf(attr->children)) visit(std::move(*content));
    }
}

void forEachId(xmlNodePtr start, const std::function<void(xmlNodePtr, std::string&&)>& visit) {
    for (xmlNodePtr node = start; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        forEachIdOf(node, [&](std::string&& id) { visit(node, std::move(id)); });
        forEachId(node->children, visit);
    }
}

xmlNodePtr elementByName(xmlNodePtr node, std::string_view name) {
    if (node == nullptr) return nullptr;
    if (nameIs(node, name)) return node;
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        if (xmlNodePtr found = elementByName(child, name)) return found;
    }
    return nullptr;
}

xmlNodePtr firstElementFrom(xmlNodePtr node) {
    while (node != nullptr && node->type != XML_ELEMENT_NODE) node = node->next;
    return node;
}

}  // namespace tessal::xml
