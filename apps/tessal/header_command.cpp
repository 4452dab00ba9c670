#include "header_command.h"

#include "file_input.h"

#include <fstream>
#include <iostream>
#include <iterator>

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

namespace {

int usage(const std::string& message) {
    std::cerr << "tessal header: " << message << "\n(see 'tessal header --help')\n";
    return 2;
}

}  // namespace

int runHeader(const std::vector<std::string>& args) {
    // "--" ends the options, so a file whose name starts with '-' can be named.
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && (arg == "--help" || arg == "-h")) {
            std::cout << kHeaderHelp;
            return 0;
        }
        if (options && arg == "--") {
            options = false;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return usage("FILE is missing");
    if (files.size() > 1) return usage("only one FILE is taken");
    const std::string& file = files[0];

    const std::optional<std::string> read = readFileBytes(file);
    if (!read) {
        std::cerr << "tessal header: cannot read '" << file << "'\n";
        return 1;
    }
    const std::string& bytes = *read;

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
