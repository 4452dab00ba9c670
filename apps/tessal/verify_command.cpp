#include "verify_command.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include "cli_host.h"
#include "file_input.h"
#include "diagnostics/utf8_text.h"
#include "tessal/error_info.h"
#include "tessal/sign.h"

namespace tessal::cli {

namespace {

const char* const kVerifyHelp =
    "usage: tessal verify FILE\n"
    "\n"
    "Verifies the signature of a signed XML document (the verifyXmlSign member).\n"
    "Prints the signer's certificate subject on standard output and exits 0, or\n"
    "prints every defect found on standard error and exits 1. 2 is a usage error.\n"
    "Certificates come from the configured certificate service and the cache.\n";

const char* const kInfoHelp =
    "usage: tessal info [--json] FILE\n"
    "\n"
    "Verifies the signature of FILE, then prints the signature summary (the info\n"
    "member): indented text, or with --json an array of rows. Exits 0 when the\n"
    "signature holds, 1 when it does not (the summary is printed either way), 2\n"
    "for a usage error.\n";

int usage(const std::string& command, const std::string& message) {
    std::cerr << "tessal " << command << ": " << message << "\n(see 'tessal " << command << " --help')\n";
    return 2;
}

struct Request {
    std::string file;
    bool json = false;
};

// The FILE and options; an exit status when the command ends here.
std::optional<int> parse(const std::string& command, const char* help, bool jsonAllowed,
                         const std::vector<std::string>& args, Request& request) {
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && (arg == "--help" || arg == "-h")) {
            std::cout << help;
            return 0;
        }
        if (options && arg == "--") {
            options = false;
        } else if (options && jsonAllowed && arg == "--json") {
            request.json = true;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            return usage(command, "unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return usage(command, "FILE is missing");
    if (files.size() > 1) return usage(command, "only one FILE is taken");
    request.file = files[0];
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> readBytes(const std::string& command, const std::string& file) {
    const std::optional<std::string> read = readFileBytes(file);
    if (!read) {
        std::cerr << "tessal " << command << ": cannot read '" << file << "'\n";
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(read->begin(), read->end());
}

// Runs verifyXmlSign; prints the subject or the defects when asked.
bool verify(Sign& sign, std::vector<std::uint8_t> bytes, bool print) {
    Variant document = Variant::bytes(std::move(bytes));
    std::u16string subject;
    setErrorInfo(std::nullopt);
    const HResult status = sign.verifyXmlSign(&document, subject);
    const std::optional<ErrorInfo> error = takeErrorInfo();
    if (status == hr::S_OK) {
        if (print) std::cout << diag::utf8Encode(subject) << "\n";
        return true;
    }
    if (print) std::cerr << (error ? diag::utf8Encode(error->description) : std::string("verification failed")) << "\n";
    return false;
}

}  // namespace

int runVerify(const std::vector<std::string>& args) {
    Request request;
    if (const std::optional<int> status = parse("verify", kVerifyHelp, false, args, request)) return *status;
    std::optional<std::vector<std::uint8_t>> bytes = readBytes("verify", request.file);
    if (!bytes) return 1;
    Sign sign(std::make_shared<CliHostSite>());
    return verify(sign, std::move(*bytes), true) ? 0 : 1;
}

int runInfo(const std::vector<std::string>& args) {
    Request request;
    if (const std::optional<int> status = parse("info", kInfoHelp, true, args, request)) return *status;
    std::optional<std::vector<std::uint8_t>> bytes = readBytes("info", request.file);
    if (!bytes) return 1;
    Sign sign(std::make_shared<CliHostSite>(request.json));
    const bool holds = verify(sign, std::move(*bytes), false);
    sign.info();
    return holds ? 0 : 1;
}

}  // namespace tessal::cli
