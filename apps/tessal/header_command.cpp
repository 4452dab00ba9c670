#include "header_command.h"

#include "file_input.h"

#include <iostream>

#include "xmlsig/message_header.h"
#include "xmlsig/xml_document.h"

namespace tessal::cli {

const char* const kHeaderHelp =
    "usage: tessal header FILE\n"
    "\n"
    "Parses FILE as an XML document (UTF-8 or another declared encoding, or\n"
    "UTF-16LE) and prints its business header (Msg/Header, Docs) as one line of\n"
    "JSON: System, Type, Sender, Receiver, MsgId, Version, Date, Priority and\n"
    "entries [{type, sender, id}]. A document that is no business message gives\n"
    "empty fields.\n"
    "\n"
    "Exit status: 0 when the header was printed, 1 when FILE could not be read\n"
    "or is not well-formed XML (the reason goes to standard error), 2 for a usage\n"
    "error.\n";

int runHeader(const std::vector<std::string>& args) {
    std::string bytes;
    if (const std::optional<int> status = takeFileArgument("header", kHeaderHelp, args, bytes)) return *status;

    xml::XmlDocument document(bytes.data(), bytes.size());
    if (document.failed()) {
        std::cerr << document.error().text.str();
        return 1;
    }
    xml::MessageHeader header;
    xml::readMessageHeader(header, document.tree());
    std::cout << xml::messageHeaderJson(header) << "\n";
    return 0;
}

}  // namespace tessal::cli
