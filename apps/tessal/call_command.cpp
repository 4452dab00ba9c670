#include "call_command.h"

#include <charconv>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "call_arguments.h"
#include "cli_host.h"
#include "diagnostics/utf8_text.h"
#include "display/window_surface.h"
#include "result_output.h"
#include "tessal/member_table.h"
#include "tessal/sign.h"

namespace tessal::cli {

const char* const kCallHelp =
    "usage: tessal call [options] MEMBER [ARG...] [:: MEMBER [ARG...]]...\n"
    "\n"
    "Invokes members in order on one Sign object; each runs even when an earlier\n"
    "one failed. A property put (KeyContainer, PkiDomain, onCardRemoved) takes its\n"
    "value as the one ARG. The pseudo-members 'SetInterfaceSafetyOptions MASK\n"
    "ENABLED' and 'GetInterfaceSafetyOptions' call the safety interface for the\n"
    "dispatch interface. The pseudo-member 'wait:SECONDS' (0 to 3600) keeps the\n"
    "object alive that long, e.g. to see a card-removal callback:\n"
    "  tessal call onCardRemoved cb:A :: signXml sf:doc.xml :: wait:8\n"
    "\n"
    "options:\n"
    "  --json         one JSON object per invocation on its own line\n"
    "  --page URL     host the object in a page at URL; like a browser, first call\n"
    "                 SetInterfaceSafetyOptions with mask 1 and enabled 1\n"
    "  --zone N       security zone of the page (default 3, internet)\n"
    "  --no-safety    with --page: skip the SetInterfaceSafetyOptions call\n"
    "  --out PATH     write the last byte-array result raw, or string result as UTF-8\n"
    "                 (results are then not printed)\n"
    "  --no-window    print info's summary and cancel saveFileXml's dialog even when\n"
    "                 a display is there (by default they use the desktop window)\n"
    "\n"
    "ARG forms:\n";

namespace {

struct Options {
    bool json = false;
    std::optional<std::string> page;
    std::uint32_t zone = 3;
    bool safety = true;
    bool window = true;
    std::optional<std::string> out;
};

struct Step {
    std::string member;
    std::vector<std::string> args;
};

int usage(const std::string& message) {
    std::cerr << "tessal call: " << message << "\n(see 'tessal call --help')\n";
    return 2;
}

std::optional<std::uint32_t> parseWord(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && (digits.rfind("i:", 0) == 0 || digits.rfind("u:", 0) == 0)) digits = digits.substr(2);
    int base = 10;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
        digits = digits.substr(2);
        base = 16;
    }
    std::uint32_t value = 0;
    const char* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// The longest 'wait:' a call accepts, in seconds.
constexpr std::uint32_t kLongestWait = 3600;

constexpr std::string_view kWaitPrefix = "wait:";

bool isWaitStep(const std::string& member) {
    return member.size() >= kWaitPrefix.size() &&
           std::equal(kWaitPrefix.begin(), kWaitPrefix.end(), member.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// The seconds of a 'wait:SECONDS' step; nothing when they are not a whole
// number up to the longest wait.
std::optional<std::uint32_t> waitSeconds(const std::string& member) {
    const std::string_view digits = std::string_view(member).substr(kWaitPrefix.size());
    std::uint32_t seconds = 0;
    const char* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, seconds, 10);
    if (digits.empty() || ec != std::errc() || ptr != end || seconds > kLongestWait) return std::nullopt;
    return seconds;
}

bool isPseudo(const std::string& name, const char* pseudo) {
    return name.size() == std::string_view(pseudo).size() &&
           std::equal(name.begin(), name.end(), pseudo, [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

// Validates a step before anything runs, so a usage error changes nothing.
std::optional<std::string> checkStep(const Step& step) {
    if (isWaitStep(step.member)) {
        if (!waitSeconds(step.member)) return "wait: takes whole seconds from 0 to " + std::to_string(kLongestWait);
        if (!step.args.empty()) return "wait: takes no arguments";
        return std::nullopt;
    }
    if (isPseudo(step.member, "SetInterfaceSafetyOptions")) {
        if (step.args.size() != 2 || !parseWord(step.args[0]) || !parseWord(step.args[1])) {
            return "SetInterfaceSafetyOptions takes MASK and ENABLED";
        }
        return std::nullopt;
    }
    if (isPseudo(step.member, "GetInterfaceSafetyOptions")) {
        if (!step.args.empty()) return "GetInterfaceSafetyOptions takes no arguments";
        return std::nullopt;
    }
    const MemberInfo* member = findMember(step.member);
    if (!member) return "unknown member '" + step.member + "' (see 'tessal members')";
    std::size_t required = 0;
    for (const ArgInfo& a : member->args) required += a.optional ? 0 : 1;
    if (step.args.size() < required || step.args.size() > member->args.size()) {
        return std::string(member->name) + " takes " +
               (required == member->args.size() ? std::to_string(required)
                                                : std::to_string(required) + " to " + std::to_string(member->args.size())) +
               " argument(s); use '-' for one left out";
    }
    for (const std::string& a : step.args) {
        std::string error;
        if (!parseArgument(a, error)) return error;
    }
    return std::nullopt;
}

Invocation run(Sign& sign, const Step& step) {
    Invocation call;
    call.member = step.member;
    setErrorInfo(std::nullopt);
    if (isWaitStep(step.member)) {
        call.member = "wait";
        std::this_thread::sleep_for(std::chrono::seconds(*waitSeconds(step.member)));
        call.status = hr::S_OK;
    } else if (isPseudo(step.member, "SetInterfaceSafetyOptions")) {
        call.member = "SetInterfaceSafetyOptions";
        call.status = sign.setInterfaceSafetyOptions(iid::IDispatch, *parseWord(step.args[0]), *parseWord(step.args[1]));
    } else if (isPseudo(step.member, "GetInterfaceSafetyOptions")) {
        call.member = "GetInterfaceSafetyOptions";
        std::uint32_t supported = 0;
        std::uint32_t enabled = 0;
        call.status = sign.getInterfaceSafetyOptions(iid::IDispatch, &supported, &enabled);
        call.safety = std::make_pair(supported, enabled);
    } else {
        call.member = std::string(findMember(step.member)->name);
        std::vector<Argument> args;
        std::string error;
        for (const std::string& a : step.args) args.push_back(*parseArgument(a, error));
        call.status = sign.invoke(step.member, args, call.result);
    }
    call.error = takeErrorInfo();
    return call;
}

bool writeOut(const std::string& path, const Variant& value) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    if (value.is(VarType::Bytes)) {
        out.write(reinterpret_cast<const char*>(value.data().data()), static_cast<std::streamsize>(value.data().size()));
    } else {
        const std::string utf8 = diag::utf8EncodeEscaped(value.text());
        out.write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
    }
    return static_cast<bool>(out);
}

}  // namespace

int runCall(const std::vector<std::string>& args) {
    Options options;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::cout << kCallHelp << kArgumentHelp;
            return 0;
        }
        if (a == "--json") options.json = true;
        else if (a == "--no-safety") options.safety = false;
        else if (a == "--no-window") options.window = false;
        else if (a == "--page" || a == "--zone" || a == "--out") {
            if (i + 1 >= args.size()) return usage(a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--page") options.page = v;
            else if (a == "--out") options.out = v;
            else if (auto zone = parseWord(v)) options.zone = *zone;
            else return usage("--zone takes a number");
        } else if (a.rfind("--", 0) == 0) {
            return usage("unknown option " + a);
        } else {
            break;
        }
    }
    std::vector<Step> steps;
    for (; i < args.size(); ++i) {
        if (args[i] == "::") {
            if (steps.empty() || steps.back().member.empty()) return usage("'::' needs a member before it");
            steps.push_back({});
            continue;
        }
        if (steps.empty()) steps.push_back({});
        if (steps.back().member.empty()) steps.back().member = args[i];
        else steps.back().args.push_back(args[i]);
    }
    if (steps.empty() || steps.back().member.empty()) return usage("no member given");
    for (const Step& step : steps) {
        if (auto problem = checkStep(step)) return usage(*problem);
    }

    auto site = std::make_shared<CliHostSite>(options.json, options.window && display::displayAvailable());
    // Every byte of the address is kept: cutting it at one that is not UTF-8
    // would hand the environment check a different host.
    if (options.page) {
        site->setPage(PageLocation{diag::utf8DecodeEach(*options.page, diag::InvalidByte::Replace), options.zone});
    }
    Sign sign(site);
    if (options.page && options.safety) sign.setInterfaceSafetyOptions(iid::IDispatch, 1, 1);

    bool allOk = true;
    std::optional<Variant> lastOutput;
    for (const Step& step : steps) {
        const Invocation call = run(sign, step);
        allOk = allOk && call.status == hr::S_OK;
        if (call.result.is(VarType::Bytes) || call.result.is(VarType::String)) lastOutput = call.result;
        if (options.json) {
            std::cout << invocationJson(call) << "\n";
        } else {
            // With --out the result goes to the file, not to the terminal.
            if (succeeded(call.status) && !options.out) {
                const std::string text = resultText(call);
                if (!text.empty()) std::cout << text << "\n";
            }
            if (failed(call.status)) std::cerr << errorText(call) << "\n";
        }
        std::cout.flush();
    }
    if (options.out && lastOutput && !writeOut(*options.out, *lastOutput)) {
        std::cerr << "tessal call: cannot write " << *options.out << "\n";
        return 1;
    }
    return allOk ? 0 : 1;
}

}  // namespace tessal::cli
