#include "sign_command.h"

#include <iostream>
#include <memory>
#include <optional>

#include "cli_host.h"
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

int usage(const std::string& message) {
    std::cerr << "tessal sign: " << message << "\n(see 'tessal sign --help')\n";
    return 2;
}

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
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::optional<std::string>& target) {
            if (i + 1 >= args.size()) return false;
            target = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << kSignHelp;
            return 0;
        }
        if (arg == "-o" || arg == "--out") {
            if (!value(out)) return usage("-o needs a file");
        } else if (arg == "--container") {
            if (!value(container)) return usage("--container needs a name");
        } else if (arg == "--log") {
            if (!value(log)) return usage("--log needs a file");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option '" + arg + "'");
        } else if (file) {
            return usage("only one FILE is taken");
        } else {
            file = arg;
        }
    }
    if (!file) return usage("FILE is missing");
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
