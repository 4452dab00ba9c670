#include "sign_command.h"

#include <iostream>
#include <memory>
#include <optional>

#include "cli_host.h"
#include "command_arguments.h"
#include "diagnostics/utf8_text.h"
#include "file_input.h"
#include "platform/file_system.h"
#include "tessal/error_info.h"
#include "tessal/sign.h"

namespace tessal::cli {

namespace {

const char* const kSignHelp =
    "usage: tessal sign FILE [-o OUT] [--container NAME] [--log FILE]\n"
    "\n"
    "Signs the XML document FILE (the signXml member) with the signer's key,\n"
    "found on a smart card or, with --container, in the HSM container of that\n"
    "name, and saves the signed document to OUT (default: FILE with\n"
    "\".signed.xml\" in place of \".xml\"). Prints where the signed document went.\n"
    "--log names a trace file for this signing.\n"
    "\n"
    "Exit status: 0 when signed, 1 when signing failed (the reason goes to\n"
    "standard error), 2 for a usage error.\n";

std::string defaultOutput(const std::string& file) {
    const std::string ending = ".xml";
    if (file.size() > ending.size() && file.compare(file.size() - ending.size(), ending.size(), ending) == 0) {
        return file.substr(0, file.size() - ending.size()) + ".signed.xml";
    }
    return file + ".signed.xml";
}

}  // namespace

int runSign(const std::vector<std::string>& args) {
    std::optional<std::string> file, out, container, log;
    CommandArguments a("sign", args);
    while (a.next()) {
        if (a.isHelp()) {
            std::cout << kSignHelp;
            return 0;
        }
        if (a.is("-o") || a.is("--out")) {
            if (!(out = a.value())) return a.usage("-o needs a file");
        } else if (a.is("--container")) {
            if (!(container = a.value())) return a.usage("--container needs a name");
        } else if (a.is("--log")) {
            if (!(log = a.value())) return a.usage("--log needs a file");
        } else if (a.isOption()) {
            return a.usage("unknown option '" + a.current() + "'");
        } else if (file) {
            return a.usage("only one FILE is taken");
        } else {
            file = a.current();
        }
    }
    if (!file) return a.usage("FILE is missing");
    std::optional<std::vector<std::uint8_t>> bytes = readFileOctets(*file);
    if (!bytes) {
        std::cerr << "tessal sign: cannot read '" << *file << "'\n";
        return 1;
    }

    Sign sign(std::make_shared<CliHostSite>());
    setErrorInfo(std::nullopt);
    if (container && sign.putKeyContainer(diag::utf16Of(*container)) != hr::S_OK) {
        const std::optional<ErrorInfo> error = takeErrorInfo();
        std::cerr << (error ? diag::utf8Encode(error->description) : std::string("KeyContainer failed")) << "\n";
        return 1;
    }
    Variant document = Variant::bytes(std::move(*bytes));
    Variant signedXml;
    const HResult status = sign.signXml(&document, 1, diag::utf16Of(log.value_or("")), signedXml);
    if (status != hr::S_OK) {
        const std::optional<ErrorInfo> error = takeErrorInfo();
        std::cerr << (error ? diag::utf8Encode(error->description) : std::string("signing failed")) << "\n";
        return 1;
    }
    const std::string target = out.value_or(defaultOutput(*file));
    const std::vector<std::uint8_t>& signedBytes = signedXml.data();
    if (!platform::writeFileAtomically(target, signedBytes.data(), signedBytes.size())) {
        std::cerr << "tessal sign: cannot write '" << target << "'\n";
        return 1;
    }
    std::cout << target << "\n";
    return 0;
}

}  // namespace tessal::cli
