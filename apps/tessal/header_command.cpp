#include "header_command.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "xmlsig/message_header.h"
#include "xmlsig/xml_document.h"

namespace tessal::cli {

const char* const kHeaderHelp =
    "usage: tessal header FILE\n"
    "\n"
    "Parses FILE as the component does and prints its business message header\n"
    "(System, Type, Sender, Receiver, MsgId, Version, Date, Priority, entries) as\n"
    "JSON on one line. A document that is not a message gives empty fields.\n"
    "Exit status: 0, 1 when FILE is unreadable or not XML, 2 for a usage error.\n";

int runHeader(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kHeaderHelp;
        return 0;
    }
    if (args.size() != 1 || args[0].rfind("--", 0) == 0) {
        std::cerr << "tessal header: one FILE expected (see 'tessal header --help')\n";
        return 2;
    }
    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
        std::cerr << "tessal header: cannot read " << args[0] << "\n";
        return 1;
    }
    std::ostringstream content;
    content << in.rdbuf();
    const std::string bytes = content.str();
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
