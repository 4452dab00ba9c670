#include "members_command.h"

#include <iostream>

#include "diagnostics/utf8_text.h"
#include "result_output.h"
#include "tessal/member_table.h"

namespace tessal::cli {

namespace {

std::string quoted(std::string_view ascii) { return jsonString(diag::utf16Of(ascii)); }

std::string resultKindName(ResultKind kind) {
    switch (kind) {
        case ResultKind::String: return "BSTR";
        case ResultKind::Variant: return "VARIANT";
        case ResultKind::None: break;
    }
    return "none";
}

void printText(const MemberInfo& m) {
    const bool put = m.kind == MemberKind::PropertyPut;
    std::cout << m.dispid << "\t" << m.name << (put ? " = " : "(");
    bool first = true;
    for (const ArgInfo& a : m.args) {
        std::cout << (first ? "" : ", ") << (a.optional ? "[" : "") << argKindName(a.kind) << " " << a.name;
        if (a.optional) {
            if (a.kind == ArgKind::Long) std::cout << " = " << a.defaultLong;
            else std::cout << " = \"" << diag::utf8Encode(a.defaultString) << "\"";
            std::cout << "]";
        }
        first = false;
    }
    std::cout << (put ? "  [property put]" : ")");
    if (m.result != ResultKind::None) std::cout << " -> " << resultKindName(m.result) << " " << m.resultName;
    std::cout << (m.gated ? "" : "  [not gated]") << "\n";
}

std::string memberJson(const MemberInfo& m) {
    std::string out = "{\"name\":" + quoted(m.name) + ",\"dispid\":" + std::to_string(m.dispid) + ",\"kind\":" +
                      (m.kind == MemberKind::PropertyPut ? "\"propertyPut\"" : "\"method\"") + ",\"arguments\":[";
    bool first = true;
    for (const ArgInfo& a : m.args) {
        out += std::string(first ? "" : ",") + "{\"name\":" + quoted(a.name) + ",\"kind\":" + quoted(argKindName(a.kind)) +
               ",\"optional\":" + (a.optional ? "true" : "false");
        if (a.optional) {
            out += ",\"default\":" + (a.kind == ArgKind::Long || a.kind == ArgKind::ULong ? std::to_string(a.defaultLong)
                                                                                          : jsonString(a.defaultString));
        }
        out += "}";
        first = false;
    }
    out += "],\"result\":" + quoted(resultKindName(m.result));
    if (m.result != ResultKind::None) out += ",\"resultName\":" + quoted(m.resultName);
    return out + ",\"gated\":" + (m.gated ? "true" : "false") + "}";
}

}  // namespace

int runMembers(const std::vector<std::string>& args) {
    const bool json = args.size() == 1 && args[0] == "--json";
    if (!args.empty() && !json) {
        std::cerr << "usage: tessal members [--json]\n";
        return 2;
    }
    if (!json) {
        for (const MemberInfo& m : memberTable()) printText(m);
        return 0;
    }
    std::string out = "[";
    bool first = true;
    for (const MemberInfo& m : memberTable()) {
        out += (first ? "" : ",\n") + memberJson(m);
        first = false;
    }
    std::cout << out << "]\n";
    return 0;
}

}  // namespace tessal::cli
