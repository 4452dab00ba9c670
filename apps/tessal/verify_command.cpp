#include "verify_command.h"

#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "batch_verify.h"
#include "cli_host.h"
#include "command_arguments.h"
#include "display/window_surface.h"
#include "document_verdict.h"
#include "file_input.h"
#include "tessal/sign.h"

namespace tessal::cli {

namespace {

const char* const kVerifyHelp =
    "usage: tessal verify [--jobs N] FILE...\n"
    "\n"
    "Verifies the signature of a signed XML document (the verifyXmlSign member).\n"
    "For one FILE: prints the signer's certificate subject on standard output and\n"
    "exits 0, or prints every defect found on standard error and exits 1.\n"
    "\n"
    "For several FILEs, or with --jobs, verifies them in one process on N worker\n"
    "threads (default: the number of processors; 1 to 256) and prints one line per\n"
    "file in the order given, fields separated by a tab:\n"
    "  FILE  valid       the signer's subject\n"
    "  FILE  invalid     the newest defect\n"
    "  FILE  unreadable  why the file could not be read\n"
    "then 'total: N files, V valid, I invalid, U unreadable'. Control characters\n"
    "in a field are written as \\xHH. Exits 0 when every file holds, 1 otherwise.\n"
    "\n"
    "2 is a usage error. Certificates come from the configured certificate service\n"
    "and the cache.\n";

const char* const kInfoHelp =
    "usage: tessal info [--json | --window] FILE\n"
    "\n"
    "Verifies the signature of FILE, then prints the signature summary (the info\n"
    "member): indented text, or with --json an array of rows. With --window the\n"
    "summary is shown in the signature-information window instead, and the command\n"
    "returns when the window is closed (a display is needed). Exits 0 when the\n"
    "signature holds, 1 when it does not (the summary is shown either way), 2\n"
    "for a usage error.\n";

// A worker count written in decimal digits, 1 to kMaxJobs.
std::optional<unsigned> parseJobs(const std::string& text) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > kMaxJobs) return std::nullopt;
    return value;
}

unsigned defaultJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores < 1 ? 1 : (cores > kMaxJobs ? kMaxJobs : cores);
}

}  // namespace

int runVerify(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    std::optional<unsigned> jobs;
    CommandArguments a("verify", args);
    while (a.next()) {
        if (a.isHelp()) {
            std::cout << kVerifyHelp;
            return 0;
        }
        if (a.is("--jobs") || (a.isOption() && a.current().rfind("--jobs=", 0) == 0)) {
            const std::optional<std::string> value =
                a.is("--jobs") ? a.value() : std::optional<std::string>(a.current().substr(7));
            if (!value) return a.usage("--jobs needs a number");
            jobs = parseJobs(*value);
            if (!jobs) return a.usage("--jobs takes a whole number from 1 to " + std::to_string(kMaxJobs));
        } else if (a.isOption()) {
            return a.usage("unknown option '" + a.current() + "'");
        } else {
            files.push_back(a.current());
        }
    }
    if (files.empty()) return a.usage("FILE is missing");
    if (files.size() > 1 || jobs) return runBatchVerify(files, jobs.value_or(defaultJobs()));

    std::optional<std::vector<std::uint8_t>> bytes = readFileOctets(files[0]);
    if (!bytes) {
        std::cerr << "tessal verify: cannot read '" << files[0] << "'\n";
        return 1;
    }
    Sign sign(std::make_shared<CliHostSite>());
    const DocumentVerdict verdict = verifyDocument(sign, std::move(*bytes));
    if (verdict.holds) {
        std::cout << verdict.subject << "\n";
        return 0;
    }
    std::cerr << verdict.defects << "\n";
    return 1;
}

int runInfo(const std::vector<std::string>& given) {
    std::vector<std::string> args;
    bool window = false;
    bool options = true;
    for (const std::string& arg : given) {
        if (options && arg == "--window") {
            window = true;
            continue;
        }
        if (arg == "--") options = false;
        args.push_back(arg);
    }
    std::vector<std::uint8_t> bytes;
    bool json = false;
    if (const std::optional<int> status = takeFileArgument("info", kInfoHelp, args, bytes, &json)) return *status;
    if (window && json) {
        std::cerr << "tessal info: --window and --json exclude each other\n(see 'tessal info --help')\n";
        return 2;
    }
    if (window && !display::displayAvailable()) {
        std::cerr << "tessal info: --window needs a display (DISPLAY or WAYLAND_DISPLAY)\n";
        return 2;
    }
    Sign sign(std::make_shared<CliHostSite>(json, window));
    const bool holds = verifyDocument(sign, std::move(bytes)).holds;
    sign.info();
    return holds ? 0 : 1;
}

}  // namespace tessal::cli
