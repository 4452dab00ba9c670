#include "xades/reference_digests.h"

namespace tessal::xml {

namespace {

// Each field with its length in front, so no two different inputs give one key.
void addField(std::string& key, const xmlChar* text) {
    const std::string_view field = text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
    key += std::to_string(field.size());
    key += text ? ':' : '!';
    key += field;
}

void addNamespace(std::string& key, const xmlNs* ns) {
    addField(key, ns ? ns->prefix : nullptr);
    addField(key, ns ? ns->href : nullptr);
}

// The node and everything under it. Names carry their namespace URI, since a
// prefix declared outside the element may mean different things in two places.
void addTree(std::string& key, const xmlNode* node) {
    key += std::to_string(static_cast<int>(node->type));
    key += '<';
    addField(key, node->name);
    if (node->type == XML_ELEMENT_NODE) {
        addNamespace(key, node->ns);
        for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
            key += 'n';
            addNamespace(key, ns);
        }
        for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
            key += 'a';
            addField(key, attr->name);
            addNamespace(key, attr->ns);
            for (const xmlNode* part = attr->children; part != nullptr; part = part->next) addTree(key, part);
        }
        for (const xmlNode* child = node->children; child != nullptr; child = child->next) addTree(key, child);
    } else {
        addField(key, node->content);
    }
    key += '>';
}

}  // namespace

std::string ReferenceDigests::keyOf(std::string_view value, const xmlNode* transforms,
                                    const std::optional<std::string>& digestMethod) {
    std::string key;
    const std::string uri(value);
    addField(key, reinterpret_cast<const xmlChar*>(uri.c_str()));
    addField(key, digestMethod ? reinterpret_cast<const xmlChar*>(digestMethod->c_str()) : nullptr);
    if (transforms != nullptr) addTree(key, transforms);
    return key;
}

const ReferenceDigest* ReferenceDigests::find(const std::string& key) const {
    const auto found = known_.find(key);
    return found == known_.end() ? nullptr : &found->second;
}

void ReferenceDigests::remember(std::string key, ReferenceDigest outcome) {
    known_.insert_or_assign(std::move(key), std::move(outcome));
}

}  // namespace tessal::xml
