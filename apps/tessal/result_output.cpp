#include "result_output.h"

#include <cstdio>

#include "diagnostics/utf8_text.h"

namespace tessal::cli {

namespace {

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::string hresultText(HResult h) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<std::uint32_t>(h));
    return buf;
}

std::string realText(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string resultJson(const Variant& v) {
    switch (v.type()) {
        case VarType::Empty: return R"({"type":"empty"})";
        case VarType::Null: return R"({"type":"null"})";
        case VarType::String: return R"({"type":"string","value":)" + jsonString(v.text()) + "}";
        case VarType::Bytes: return R"({"type":"bytes","hex":")" + hex(v.data()) + "\"}";
        case VarType::Int: return R"({"type":"int","value":)" + std::to_string(v.asInt()) + "}";
        case VarType::UInt: return R"({"type":"int","value":)" + std::to_string(v.asUInt()) + "}";
        case VarType::Bool: return std::string(R"({"type":"bool","value":)") + (v.asBool() ? "true" : "false") + "}";
        case VarType::Double: return R"({"type":"double","value":)" + realText(v.asDouble()) + "}";
        case VarType::Date: return R"({"type":"date","value":)" + realText(v.asDouble()) + "}";
        case VarType::Dispatch: return R"({"type":"dispatch"})";
    }
    return R"({"type":"empty"})";
}

}  // namespace

std::string jsonString(std::u16string_view text) {
    std::string out = "\"";
    for (char16_t u : text) {
        if (u == u'"') out += "\\\"";
        else if (u == u'\\') out += "\\\\";
        else if (u >= 0x20 && u < 0x7F) out.push_back(static_cast<char>(u));
        else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(u));
            out += buf;
        }
    }
    return out + "\"";
}

std::string invocationJson(const Invocation& call) {
    std::string out = "{\"member\":" + jsonString(diag::utf16Of(call.member)) + ",\"hresult\":\"" + hresultText(call.status) + "\"";
    if (call.safety && succeeded(call.status)) {
        out += ",\"result\":{\"type\":\"safety\",\"supported\":" + std::to_string(call.safety->first) +
               ",\"enabled\":" + std::to_string(call.safety->second) + "}";
    } else if (succeeded(call.status)) {
        out += ",\"result\":" + resultJson(call.result);
    }
    if (call.error) {
        out += ",\"error\":{\"source\":" + jsonString(call.error->source) + ",\"description\":" +
               jsonString(call.error->description) + "}";
    }
    return out + "}";
}

std::string resultText(const Invocation& call) {
    if (call.safety) return "supported " + std::to_string(call.safety->first) + " enabled " + std::to_string(call.safety->second);
    const Variant& v = call.result;
    switch (v.type()) {
        case VarType::String: return diag::utf8EncodeEscaped(v.text());
        case VarType::Bytes: return hex(v.data());
        case VarType::Int: return std::to_string(v.asInt());
        case VarType::UInt: return std::to_string(v.asUInt());
        case VarType::Bool: return v.asBool() ? "true" : "false";
        case VarType::Double:
        case VarType::Date: return realText(v.asDouble());
        default: return "";
    }
}

std::string errorText(const Invocation& call) {
    std::string out = "error " + hresultText(call.status);
    if (call.error) out += " (" + diag::utf8Encode(call.error->source) + "): " + diag::utf8Encode(call.error->description);
    return out;
}

}  // namespace tessal::cli
