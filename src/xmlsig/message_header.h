#pragma once
// The business header of a signed message: a `Msg` root (or a `Msg` child of
// the root, as in a signed `EDoc`) with its `Header` and `Docs` list.
#include <libxml/tree.h>

#include <string>
#include <vector>

#include "diagnostics/utf8_text.h"

namespace tessal::xml {

struct MessageHeaderEntry {
    diag::Utf8Text type;
    diag::Utf8Text sender;
    diag::Utf8Text identifier;
};

struct MessageHeader {
    std::vector<MessageHeaderEntry> entries;
    diag::Utf8Text System;
    diag::Utf8Text Type;
    diag::Utf8Text Sender;
    diag::Utf8Text Receiver;
    diag::Utf8Text MsgId;
    diag::Utf8Text Version;
    diag::Utf8Text Date;
    diag::Utf8Text Priority;
};

// Fills the header from the tree; never fails. Names compare exactly,
// namespaces are not looked at and nothing is trimmed.
void readMessageHeader(MessageHeader& header, xmlDocPtr tree);

// One JSON object: the eight fields and the entries as {type, sender, id}.
std::string messageHeaderJson(const MessageHeader& header);

}  // namespace tessal::xml
