#include "xmlsig/message_header.h"

#include <optional>

#include "diagnostics/json_text.h"
#include "xmlsig/xml_document.h"

namespace tessal::xml {

namespace {

bool isElementNamed(const xmlNode* node, std::string_view name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && nameIs(node, name);
}

xmlNodePtr firstChildNamed(const xmlNode* parent, std::string_view name) {
    for (xmlNodePtr child = parent->children; child != nullptr; child = child->next) {
        if (isElementNamed(child, name)) return child;
    }
    return nullptr;
}

// Sets `field` when the element has a text; an absent text leaves it as it was.
void takeText(diag::Utf8Text& field, const xmlNode* element) {
    if (std::optional<std::string> text = firstChildText(element)) field = diag::Utf8Text(std::move(*text));
}

void takeAttribute(diag::Utf8Text& field, const xmlNode* element, std::string_view name) {
    if (std::optional<std::string> text = attributeText(element, name)) field = diag::Utf8Text(std::move(*text));
}

void readHeaderChildren(MessageHeader& header, const xmlNode* h) {
    for (xmlNodePtr c = h->children; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (nameIs(c, "Sender")) takeText(header.Sender, c);
        else if (nameIs(c, "Receiver")) takeText(header.Receiver, c);
        else if (nameIs(c, "MsgId")) takeText(header.MsgId, c);
        else if (nameIs(c, "System")) takeText(header.System, c);
        else if (nameIs(c, "Date")) takeText(header.Date, c);
        else if (nameIs(c, "Priority")) takeText(header.Priority, c);
        else if (nameIs(c, "Reference")) {
            MessageHeaderEntry entry;
            for (xmlNodePtr r = c->children; r != nullptr; r = r->next) {
                if (isElementNamed(r, "Sender")) takeText(entry.sender, r);
                else if (isElementNamed(r, "MsgId")) takeText(entry.identifier, r);
            }
            if (!entry.sender.empty()) header.entries.push_back(std::move(entry));
        }
    }
}

// A Docs list replaces the references: each Doc with a DocId, carrying the
// message's own sender.
void readDocs(MessageHeader& header, const xmlNode* docs) {
    header.entries.clear();
    for (xmlNodePtr d = docs->children; d != nullptr; d = d->next) {
        if (!isElementNamed(d, "Doc")) continue;
        const xmlNodePtr docHeader = firstChildNamed(d, "Header");
        if (docHeader == nullptr) continue;
        MessageHeaderEntry entry;
        for (xmlNodePtr c = docHeader->children; c != nullptr; c = c->next) {
            if (isElementNamed(c, "DocId")) takeText(entry.identifier, c);
            else if (isElementNamed(c, "Type")) takeText(entry.type, c);
        }
        if (entry.identifier.empty()) continue;
        entry.sender = header.Sender;
        header.entries.push_back(std::move(entry));
    }
}

void appendMember(std::string& out, const char* name, const diag::Utf8Text& value, bool first = false) {
    if (!first) out += ',';
    out += '"';
    out += name;
    out += "\":";
    diag::appendJsonString(out, value.str());
}

}  // namespace

void readMessageHeader(MessageHeader& header, xmlDocPtr tree) {
    header = MessageHeader{};
    const xmlNodePtr root = tree ? xmlDocGetRootElement(tree) : nullptr;
    if (root == nullptr) return;
    const xmlNodePtr msg = isElementNamed(root, "Msg") ? root : firstChildNamed(root, "Msg");
    if (msg == nullptr) return;
    takeAttribute(header.Type, msg, "Type");
    takeAttribute(header.Version, msg, "Version");

    const xmlNodePtr h = firstChildNamed(msg, "Header");
    if (h == nullptr) return;
    readHeaderChildren(header, h);

    for (xmlNodePtr sibling = h->next; sibling != nullptr; sibling = sibling->next) {
        if (isElementNamed(sibling, "Docs")) {
            readDocs(header, sibling);
            return;
        }
    }
}

std::string messageHeaderJson(const MessageHeader& header) {
    std::string out = "{";
    appendMember(out, "System", header.System, true);
    appendMember(out, "Type", header.Type);
    appendMember(out, "Sender", header.Sender);
    appendMember(out, "Receiver", header.Receiver);
    appendMember(out, "MsgId", header.MsgId);
    appendMember(out, "Version", header.Version);
    appendMember(out, "Date", header.Date);
    appendMember(out, "Priority", header.Priority);
    out += ",\"entries\":[";
    bool first = true;
    for (const MessageHeaderEntry& entry : header.entries) {
        if (!first) out += ',';
        first = false;
        out += '{';
        appendMember(out, "type", entry.type, true);
        appendMember(out, "sender", entry.sender);
        appendMember(out, "id", entry.identifier);
        out += '}';
    }
    out += "]}";
    return out;
}

}  // namespace tessal::xml
