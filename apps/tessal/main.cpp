// tessal: the command-line host of one Sign object, for desktop use, scripts
// and tests.
#include <malloc.h>
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "call_arguments.h"
#include "c14n_command.h"
#include "call_command.h"
#include "face_command.h"
#include "header_command.h"
#include "members_command.h"
#include "record_command.h"
#include "sign_command.h"
#include "verify_command.h"

namespace {

const char* const kHelp =
    "usage: tessal COMMAND [ARGS...]\n"
    "\n"
    "commands:\n"
    "  call [options] MEMBER [ARG...] [:: MEMBER [ARG...]]...\n"
    "                 invoke members of one Sign object in order (tessal call --help)\n"
    "  members [--json]\n"
    "                 list the members with their DISPIDs, argument kinds and defaults\n"
    "  c14n [--method URI] [--ref VALUE] [--transforms FILE] FILE\n"
    "                 print the canonical octets the signature pipeline produces\n"
    "  header FILE    print the business message header of a document as JSON\n"
    "  cert FILE      print the texts a certificate is found by, as JSON (PEM, DER, Base64, XML)\n"
    "  sign FILE [-o OUT] [--container NAME] [--log FILE]\n"
    "                 sign a document with the signer's key; print where it went\n"
    "  verify [--jobs N] FILE...\n"
    "                 verify signed documents; print the signer or the defects,\n"
    "                 for several files one verdict line each (tessal verify --help)\n"
    "  info [--json | --window] FILE\n"
    "                 verify a signed document and print or show the signature summary\n"
    "  crl FILE       print the texts a CRL is found by, as JSON (PEM, DER, Base64, XML)\n"
    "  face [--size WxH] FILE -o OUT.png\n"
    "                 verify a signed document and save the control's face as a PNG image\n"
    "  --help         this text\n"
    "\n"
    "The configuration file is /etc/tessal/tessal.conf, or the file TESSAL_CONFIG names.\n"
    "Exit status: 0 when every invocation answered S_OK, 1 otherwise, 2 for a usage error.\n";

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // A document's tree is millions of small blocks. Kept in fast bins when
    // freed, they would all be merged again at the next large allocation (a
    // stream buffer, the next file): freeing them straight away costs less.
    mallopt(M_MXFAST, 0);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << kHelp;
        return args.empty() ? 2 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "call") return tessal::cli::runCall(args);
    if (command == "members") return tessal::cli::runMembers(args);
    if (command == "c14n") return tessal::cli::runC14n(args);
    if (command == "header") return tessal::cli::runHeader(args);
    if (command == "cert") return tessal::cli::runCert(args);
    if (command == "crl") return tessal::cli::runCrl(args);
    if (command == "sign") return tessal::cli::runSign(args);
    if (command == "verify") return tessal::cli::runVerify(args);
    if (command == "info") return tessal::cli::runInfo(args);
    if (command == "face") return tessal::cli::runFace(args);
    std::cerr << "tessal: unknown command '" << command << "' (see 'tessal --help')\n";
    return 2;
}
