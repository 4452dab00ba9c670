#include "xmlsig/message_header.h"

#include <cstdio>

#include "xmlsig/xml_document.h"

namespace tessal::xml {

namespace {

void setIfPresent(diag::Utf8Text& field, const xmlNode* node) {
    if (auto text = firstChildText(node)) field = diag::Utf8Text(std::move(*text));
}

void setAttributeIfPresent(diag::Utf8Text& field, const xmlNode* node, std::string_view name) {
    if (auto text = attributeText(node, name)) field = diag::Utf8Text(std::move(*text));
}

xmlNodePtr firstChildNamed(xmlNodePtr parent, std::string_view name) {
    for (xmlNodePtr c = parent ? parent->children : nullptr; c; c = c->next) {
        if (nameIs(c, name)) return c;
    }
    return nullptr;
}

void readHeaderFields(MessageHeader& header, xmlNodePtr h) {
    for (xmlNodePtr c = h->children; c; c = c->next) {
        if (nameIs(c, "Sender")) setIfPresent(header.Sender, c);
        else if (nameIs(c, "Receiver")) setIfPresent(header.Receiver, c);
        else if (nameIs(c, "MsgId")) setIfPresent(header.MsgId, c);
        else if (nameIs(c, "System")) setIfPresent(header.System, c);
        else if (nameIs(c, "Date")) setIfPresent(header.Date, c);
        else if (nameIs(c, "Priority")) setIfPresent(header.Priority, c);
        else if (nameIs(c, "Reference")) {
            MessageHeaderEntry entry;
            for (xmlNodePtr r = c->children; r; r = r->next) {
                if (nameIs(r, "Sender")) setIfPresent(entry.sender, r);
                else if (nameIs(r, "MsgId")) setIfPresent(entry.identifier, r);
            }
            if (!entry.sender.empty()) header.entries.push_back(std::move(entry));
        }
    }
}

void readDocs(MessageHeader& header, xmlNodePtr docs) {
    header.entries.clear();
    for (xmlNodePtr d = docs->children; d; d = d->next) {
        if (!nameIs(d, "Doc")) continue;
        xmlNodePtr docHeader = firstChildNamed(d, "Header");
        if (!docHeader) continue;
        MessageHeaderEntry entry;
        for (xmlNodePtr c = docHeader->children; c; c = c->next) {
            if (nameIs(c, "DocId")) setIfPresent(entry.identifier, c);
            else if (nameIs(c, "Type")) setIfPresent(entry.type, c);
        }
        if (entry.identifier.empty()) continue;
        entry.sender = header.Sender;
        header.entries.push_back(std::move(entry));
    }
}

std::string jsonText(const diag::Utf8Text& text) {
    std::string out = "\"";
    for (unsigned char c : text.str()) {
        if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

}  // namespace

void readMessageHeader(MessageHeader& header, xmlDocPtr tree) {
    header = MessageHeader{};
    xmlNodePtr root = tree ? xmlDocGetRootElement(tree) : nullptr;
    if (!root) return;
    xmlNodePtr msg = nameIs(root, "Msg") ? root : firstChildNamed(root, "Msg");
    if (!msg) return;
    setAttributeIfPresent(header.Type, msg, "Type");
    setAttributeIfPresent(header.Version, msg, "Version");
    xmlNodePtr h = firstChildNamed(msg, "Header");
    if (!h) return;
    readHeaderFields(header, h);
    for (xmlNodePtr s = h->next; s; s = s->next) {
        if (nameIs(s, "Docs")) {
            readDocs(header, s);
            return;
        }
    }
}

std::string messageHeaderJson(const MessageHeader& header) {
    std::string out = "{\"System\":" + jsonText(header.System) + ",\"Type\":" + jsonText(header.Type) +
                      ",\"Sender\":" + jsonText(header.Sender) + ",\"Receiver\":" + jsonText(header.Receiver) +
                      ",\"MsgId\":" + jsonText(header.MsgId) + ",\"Version\":" + jsonText(header.Version) +
                      ",\"Date\":" + jsonText(header.Date) + ",\"Priority\":" + jsonText(header.Priority) +
                      ",\"entries\":[";
    for (std::size_t i = 0; i < header.entries.size(); ++i) {
        const MessageHeaderEntry& e = header.entries[i];
        out += (i ? "," : "") + std::string("{\"type\":") + jsonText(e.type) + ",\"sender\":" + jsonText(e.sender) +
               ",\"id\":" + jsonText(e.identifier) + "}";
    }
    return out + "]}";
}

}  // namespace tessal::xml
