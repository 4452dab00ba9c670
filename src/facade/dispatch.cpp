// Invocation of members by name or DISPID, as a script host's dispatch call:
// arguments coerced to the declared kinds, defaults for those left out.
#include "tessal/member_table.h"
#include "tessal/sign.h"

namespace tessal {

namespace {

struct Coerced {
    std::u16string text;
    std::int32_t number = 0;
    std::uint32_t unsignedNumber = 0;
    std::shared_ptr<Dispatch> target;
    Variant* variant = nullptr;
};

HResult coerce(const ArgInfo& info, Argument& arg, Coerced& out) {
    if (!arg) {
        if (!info.optional) return hr::DISP_E_PARAMNOTFOUND;
        out.text = std::u16string(info.defaultString);
        out.number = info.defaultLong;
        return hr::S_OK;
    }
    Variant converted;
    switch (info.kind) {
        case ArgKind::VariantRef:
            out.variant = &*arg;
            return hr::S_OK;
        case ArgKind::String:
            if (HResult h = changeType(*arg, VarType::String, converted); failed(h)) return h;
            out.text = converted.text();
            return hr::S_OK;
        case ArgKind::Long:
            if (HResult h = changeType(*arg, VarType::Int, converted); failed(h)) return h;
            out.number = converted.asInt();
            return hr::S_OK;
        case ArgKind::ULong:
            if (HResult h = changeType(*arg, VarType::UInt, converted); failed(h)) return h;
            out.unsignedNumber = converted.asUInt();
            return hr::S_OK;
        case ArgKind::Dispatch:
            if (HResult h = changeType(*arg, VarType::Dispatch, converted); failed(h)) return h;
            out.target = converted.asDispatch();
            return hr::S_OK;
    }
    return hr::DISP_E_TYPEMISMATCH;
}

HResult call(Sign& sign, std::int32_t dispid, std::vector<Coerced>& a, Variant& result) {
    std::u16string text;
    HResult h = hr::S_OK;
    switch (dispid) {
        case 1: h = sign.syncTime(a[0].text, text); break;
        case 2: h = sign.readNextFileXml(a[0].text, text); break;
        case 3: h = sign.getProcessedFileName(text); break;
        case 4: return sign.moveProcessedFile(a[0].text);
        case 5: return sign.saveFileXml(a[0].text, a[1].variant);
        case 6: return sign.signXml(a[0].variant, a[1].number, a[2].text, result);
        case 7: h = sign.verifyXmlSign(a[0].variant, text); break;
        case 8: return sign.reset();
        case 9: h = sign.readFile(a[0].text, text); break;
        case 10: return sign.info();
        case 11: return sign.writeLog(a[0].text, a[1].text);
        case 12: return sign.writeEventLog(a[0].text, a[1].unsignedNumber);
        case 13: return sign.convert(a[0].variant, a[1].text, result);
        case 14: return sign.compress(a[0].variant, a[1].text, result);
        case 15: h = sign.getFileTime(a[0].text, text); break;
        case 16: return sign.putOnCardRemoved(a[0].target);
        case 17: return sign.putKeyContainer(a[0].text);
        case 18: return sign.putPkiDomain(a[0].text);
        default: return hr::DISP_E_MEMBERNOTFOUND;
    }
    if (succeeded(h)) result = Variant::string(std::move(text));
    return h;
}

HResult invokeMember(Sign& sign, const MemberInfo* member, std::vector<Argument>& args, Variant& result) {
    result = Variant();
    if (args.size() > member->args.size()) return hr::DISP_E_BADPARAMCOUNT;
    std::vector<Coerced> coerced(member->args.size());
    for (std::size_t i = 0; i < member->args.size(); ++i) {
        Argument missing;
        Argument& arg = i < args.size() ? args[i] : missing;
        if (HResult h = coerce(member->args[i], arg, coerced[i]); failed(h)) return h;
    }
    return call(sign, member->dispid, coerced, result);
}

}  // namespace

HResult Sign::invoke(std::string_view member, std::vector<Argument>& args, Variant& result) {
    const MemberInfo* info = findMember(member);
    if (!info) return hr::DISP_E_UNKNOWNNAME;
    return invokeMember(*this, info, args, result);
}

HResult Sign::invoke(std::int32_t dispid, std::vector<Argument>& args, Variant& result) {
    const MemberInfo* info = findMember(dispid);
    if (!info) return hr::DISP_E_MEMBERNOTFOUND;
    return invokeMember(*this, info, args, result);
}

}  // namespace tessal
