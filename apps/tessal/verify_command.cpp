#include "verify_command.h"

#include <iostream>
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
    std::string bytes;
    if (const std::optional<int> status = takeFileArgument("verify", kVerifyHelp, args, bytes)) return *status;
    Sign sign(std::make_shared<CliHostSite>());
    return verify(sign, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), true) ? 0 : 1;
}

int runInfo(const std::vector<std::string>& args) {
    std::string bytes;
    bool json = false;
    if (const std::optional<int> status = takeFileArgument("info", kInfoHelp, args, bytes, &json)) return *status;
    Sign sign(std::make_shared<CliHostSite>(json));
    const bool holds = verify(sign, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), false);
    sign.info();
    return holds ? 0 : 1;
}

}  // namespace tessal::cli
