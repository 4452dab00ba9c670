// Conversion and compression of caller data.
#include "data/compress.h"
#include "data/convert.h"
#include "facade/document_bytes.h"
#include "facade/member_guard.h"
#include "tessal/sign.h"

namespace tessal {

HResult Sign::convert(Variant* in, std::u16string_view type, Variant& out) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        if (!in) return hr::E_POINTER;
        // A failed variant conversion is answered as its status, without
        // error information.
        return data::convertValue(*in, type, out);
    });
}

HResult Sign::compress(Variant* in, std::u16string_view method, Variant& compressed) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        diag::Outcome<std::string> document = facade::requireDocument(in);
        if (!document.ok()) return facade::reportFailure(s, document.failure());
        if (!data::isGzipMethod(method)) {
            return facade::reportFailure(s, u"Nepalaikomas duomenų suspaudimo metodas \"%s\"", {method});
        }
        const std::string& bytes = document.value();
        compressed = Variant::bytes(data::gzipCompress(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        return hr::S_OK;
    });
}

}  // namespace tessal
