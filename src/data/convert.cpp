#include "data/convert.h"

#include <string>

#include "diagnostics/utf8_text.h"

namespace tessal::data {

namespace {

bool isToByteArray(std::u16string_view type) {
    if (type.size() != 3) return false;
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    return type[0] == u'2' && lower(type[1]) == u'b' && lower(type[2]) == u'a';
}

HResult toByteArray(Variant& in, Variant& out) {
    if (in.is(VarType::Bytes)) {
        out = in;
        return hr::S_OK;
    }
    if (!in.is(VarType::String)) {
        const HResult h = changeType(in, VarType::String, in, /*alphaBool=*/true);
        if (failed(h)) return h;
    }
    const std::string utf8 = diag::utf8Encode(in.text());
    out = Variant::bytes(std::vector<std::uint8_t>(utf8.begin(), utf8.end()));
    return hr::S_OK;
}

HResult toText(const Variant& in, Variant& out) {
    if (in.is(VarType::String)) {
        out = in;
        return hr::S_OK;
    }
    if (in.is(VarType::Bytes)) {
        const auto& b = in.data();
        const std::string_view bytes(reinterpret_cast<const char*>(b.data()), b.size());
        // An undecodable lead byte ends the text; what came before it stays.
        out = Variant::string(diag::utf8Decode(bytes, bytes.size() + 1).units);
        return hr::S_OK;
    }
    // The copy stays in `out` even when its conversion fails.
    out = in;
    return changeType(out, VarType::String, out);
}

}  // namespace

HResult convertValue(Variant& in, std::u16string_view type, Variant& out) {
    return isToByteArray(type) ? toByteArray(in, out) : toText(in, out);
}

}  // namespace tessal::data
