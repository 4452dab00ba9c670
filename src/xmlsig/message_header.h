#pragma once
// The business header of a signed message: Msg (Type, Version) with its
// Header, and the documents (Docs/Doc) or earlier messages (Reference) it
// names. A document that is no such message leaves the header empty.
#include <libxml/tree.h>

#include <string>
#include <vector>

#include "diagnostics/utf8_text.h"

namespace tessal::xml {

struct MessageHeaderEntry {
    diag::Utf8Text type;
    diag::Utf8Text sender;
    diag::Utf8Text identifier;

    bool operator==(const MessageHeaderEntry&) const = default;
};

struct MessageHeader {
    // The fields carry the names of the envelope elements they come from.
    std::vector<MessageHeaderEntry> entries;
    diag::Utf8Text System;
    diag::Utf8Text Type;
    diag::Utf8Text Sender;
    diag::Utf8Text Receiver;
    diag::Utf8Text MsgId;
    diag::Utf8Text Version;
    diag::Utf8Text Date;
    diag::Utf8Text Priority;

    bool operator==(const MessageHeader&) const = default;
};

// Fills `header` from the tree (a Msg root, or a Msg child of the root);
// never fails, records nothing. Texts are taken untrimmed.
void readMessageHeader(MessageHeader& header, xmlDocPtr tree);

// One line of JSON: System, Type, Sender, Receiver, MsgId, Version, Date,
// Priority and the entries as [{type, sender, id}]; texts stay UTF-8.
std::string messageHeaderJson(const MessageHeader& header);

}  // namespace tessal::xml
