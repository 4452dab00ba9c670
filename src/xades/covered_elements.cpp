#include "xades/covered_elements.h"

#include <optional>
#include <string>

#include "xades/xades_texts.h"

namespace tessal::xml {

xmlNodePtr designatedElement(const XmlDocument& document, std::string_view uri) {
    std::string_view value = trimmedSpace(uri);
    if (value.empty() || value.front() != '#') return nullptr;
    while (!value.empty() && value.front() == '#') value.remove_prefix(1);
    if (value.empty()) return nullptr;
    return firstElementFrom(document.elementByIdInDocument(value));
}

xmlNodePtr coveredSignedProperties(const XmlDocument& document, xmlNodePtr signedInfo, xmlNodePtr object) {
    if (signedInfo == nullptr || object == nullptr) return nullptr;
    for (xmlNodePtr child = signedInfo->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || !nameIs(child, "Reference")) continue;
        const std::optional<std::string> uri = attributeText(child, "URI");
        if (!uri) continue;
        xmlNodePtr element = designatedElement(document, *uri);
        if (element == nullptr || !nameIs(element, "SignedProperties")) continue;
        xmlNodePtr container = element->parent;
        if (container != nullptr && nameIs(container, "QualifyingProperties") && container->parent == object) {
            return element;
        }
    }
    return nullptr;
}

bool timeStampCovers(const XmlDocument& document, xmlNodePtr timeStamp, xmlNodePtr element) {
    if (timeStamp == nullptr || element == nullptr) return false;
    for (xmlNodePtr child = timeStamp->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || !nameIs(child, "HashDataInfo")) continue;
        const std::optional<std::string> uri = attributeText(child, "uri");
        if (uri && designatedElement(document, *uri) == element) return true;
    }
    return false;
}

}  // namespace tessal::xml
