// The C interface over Sign, for programs that load the shared library.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "diagnostics/utf8_text.h"
#include "display/face_pattern.h"
#include "tessal/error_info.h"
#include "tessal/sign.h"
#include "tessal/tessal.h"

struct tessal_sign {
    std::unique_ptr<tessal::Sign> sign;
};

namespace {

using tessal::Variant;
using tessal::VarType;

class PageSite : public tessal::HostSite {
public:
    PageSite(std::u16string address, std::uint32_t zone) : page_{std::move(address), zone} {}
    std::optional<tessal::PageLocation> page() const override { return page_; }

private:
    tessal::PageLocation page_;
};

// A C callback as the object's dispatch reference.
class CallbackDispatch : public tessal::Dispatch {
public:
    CallbackDispatch(tessal_callback fn, void* data) : fn_(fn), data_(data) {}
    tessal::HResult invokeDefault(std::vector<Variant>&, Variant&) override { return fn_(data_); }

private:
    tessal_callback fn_;
    void* data_;
};

tessal::Argument fromC(const tessal_variant& v) {
    Variant value;
    switch (v.type) {
        case TESSAL_VT_MISSING: return std::nullopt;
        case TESSAL_VT_NULL: value = Variant::null(); break;
        case TESSAL_VT_STRING:
            value = Variant::string(v.str ? std::u16string(reinterpret_cast<const char16_t*>(v.str), v.str_len) : u"");
            break;
        case TESSAL_VT_BYTES:
            value = Variant::bytes(v.bytes ? std::vector<std::uint8_t>(v.bytes, v.bytes + v.bytes_len)
                                           : std::vector<std::uint8_t>());
            break;
        case TESSAL_VT_INT: value = Variant::int32(static_cast<std::int32_t>(v.integer)); break;
        case TESSAL_VT_UINT: value = Variant::uint32(static_cast<std::uint32_t>(v.integer)); break;
        case TESSAL_VT_DOUBLE: value = Variant::real(v.real); break;
        case TESSAL_VT_BOOL: value = Variant::boolean(v.integer != 0); break;
        case TESSAL_VT_DATE: value = Variant::date(v.real); break;
        case TESSAL_VT_DISPATCH:
            value = Variant::dispatch(v.callback ? std::make_shared<CallbackDispatch>(v.callback, v.callback_data) : nullptr);
            break;
        default: break;
    }
    return v.by_ref ? Variant::byReference(std::move(value)) : value;
}

// An entry point that failed outside any member answers like a member whose
// body threw: "Nenumatyta klaida" as the error information.
tessal_hresult unexpected(tessal_hresult status) noexcept {
    try {
        tessal::setErrorInfo(std::nullopt);
        tessal::setErrorInfo(tessal::ErrorInfo{std::u16string(tessal::kProgId), u"Nenumatyta klaida"});
    } catch (...) {
        // Out of memory even for the message: the status alone tells.
    }
    return status;
}

// Runs the work of an entry point: a C caller cannot catch a C++ exception,
// so none may leave the interface.
template <typename Work>
tessal_hresult guarded(Work&& work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return unexpected(tessal::hr::E_OUTOFMEMORY);
    } catch (...) {
        return unexpected(tessal::hr::E_UNEXPECTED);
    }
}

char* copyUtf8(const std::u16string& text) {
    const std::string utf8 = tessal::diag::utf8Encode(text);
    char* out = static_cast<char*>(std::malloc(utf8.size() + 1));
    if (out) std::memcpy(out, utf8.c_str(), utf8.size() + 1);
    return out;
}

// False when a copy could not be allocated; `out` then holds nothing to free.
bool toC(const Variant& value, tessal_variant& out) {
    out = tessal_variant{};
    switch (value.type()) {
        case VarType::Empty: out.type = TESSAL_VT_EMPTY; break;
        case VarType::Null: out.type = TESSAL_VT_NULL; break;
        case VarType::String: {
            out.type = TESSAL_VT_STRING;
            auto* units = static_cast<uint16_t*>(std::malloc((value.text().size() + 1) * sizeof(uint16_t)));
            if (!units) return false;
            std::memcpy(units, value.text().data(), value.text().size() * sizeof(uint16_t));
            units[value.text().size()] = 0;
            out.str = units;
            out.str_len = value.text().size();
            break;
        }
        case VarType::Bytes: {
            out.type = TESSAL_VT_BYTES;
            auto* data = static_cast<uint8_t*>(std::malloc(value.data().size() + 1));
            if (!data) return false;
            if (!value.data().empty()) std::memcpy(data, value.data().data(), value.data().size());
            out.bytes = data;
            out.bytes_len = value.data().size();
            break;
        }
        case VarType::Int: out.type = TESSAL_VT_INT; out.integer = value.asInt(); break;
        case VarType::UInt: out.type = TESSAL_VT_UINT; out.integer = value.asUInt(); break;
        case VarType::Double: out.type = TESSAL_VT_DOUBLE; out.real = value.asDouble(); break;
        case VarType::Bool: out.type = TESSAL_VT_BOOL; out.integer = value.asBool() ? 1 : 0; break;
        case VarType::Date: out.type = TESSAL_VT_DATE; out.real = value.asDouble(); break;
        case VarType::Dispatch: out.type = TESSAL_VT_DISPATCH; break;
    }
    return true;
}

template <typename Member>
tessal_hresult invokeWith(tessal_sign* sign, Member member, const tessal_variant* args, size_t count,
                          tessal_variant* result) {
    if (result) *result = tessal_variant{};
    if (!sign || (count && !args)) return tessal::hr::E_POINTER;
    return guarded([&] {
        std::vector<tessal::Argument> converted;
        converted.reserve(count);
        for (size_t i = 0; i < count; ++i) converted.push_back(fromC(args[i]));
        Variant out;
        const tessal::HResult h = sign->sign->invoke(member, converted, out);
        // A result that cannot be handed over must not pass for an empty one.
        if (result && !toC(out, *result)) return unexpected(tessal::hr::E_OUTOFMEMORY);
        return h;
    });
}

}  // namespace

extern "C" {

tessal_hresult tessal_sign_create(tessal_sign** out) {
    if (!out) return tessal::hr::E_POINTER;
    *out = nullptr;
    return guarded([&] {
        *out = new tessal_sign{std::make_unique<tessal::Sign>()};
        return tessal::hr::S_OK;
    });
}

tessal_hresult tessal_sign_create_in_page(const char* page_url, uint32_t zone, tessal_sign** out) {
    if (!out || !page_url) return tessal::hr::E_POINTER;
    *out = nullptr;
    return guarded([&] {
        // Every byte of the address is kept: cutting it at one that is not
        // UTF-8 would hand the environment check a different host.
        auto site = std::make_shared<PageSite>(
            tessal::diag::utf8DecodeEach(page_url, tessal::diag::InvalidByte::Replace), zone);
        *out = new tessal_sign{std::make_unique<tessal::Sign>(site)};
        return tessal::hr::S_OK;
    });
}

void tessal_sign_release(tessal_sign* sign) {
    guarded([&] {
        delete sign;
        return tessal::hr::S_OK;
    });
}

tessal_hresult tessal_sign_invoke(tessal_sign* sign, const char* member, const tessal_variant* args, size_t count,
                                  tessal_variant* result) {
    if (!member) return tessal::hr::E_POINTER;
    return invokeWith(sign, std::string_view(member), args, count, result);
}

tessal_hresult tessal_sign_invoke_dispid(tessal_sign* sign, int32_t dispid, const tessal_variant* args, size_t count,
                                         tessal_variant* result) {
    return invokeWith(sign, dispid, args, count, result);
}

tessal_hresult tessal_sign_set_interface_safety_options(tessal_sign* sign, uint32_t mask, uint32_t enabled) {
    if (!sign) return tessal::hr::E_POINTER;
    return guarded([&] { return sign->sign->setInterfaceSafetyOptions(tessal::iid::IDispatch, mask, enabled); });
}

tessal_hresult tessal_sign_get_interface_safety_options(tessal_sign* sign, uint32_t* supported, uint32_t* enabled) {
    if (!sign) return tessal::hr::E_POINTER;
    return guarded([&] { return sign->sign->getInterfaceSafetyOptions(tessal::iid::IDispatch, supported, enabled); });
}

tessal_hresult tessal_sign_face(tessal_sign* sign, int32_t left, int32_t top, int32_t right, int32_t bottom,
                                uint32_t* colour, tessal_face_rect** rects, size_t* count) {
    if (rects) *rects = nullptr;
    if (count) *count = 0;
    if (!sign || !colour || !rects || !count) return tessal::hr::E_POINTER;
    return guarded([&] {
        const std::optional<tessal::ControlFace> face = sign->sign->face(tessal::FaceRectangle{left, top, right, bottom});
        if (!face) return tessal::hr::S_FALSE;
        const std::vector<tessal::FaceRectangle> areas = tessal::display::filledAreas(*face);
        auto* out = static_cast<tessal_face_rect*>(std::malloc((areas.size() + 1) * sizeof(tessal_face_rect)));
        if (!out) return unexpected(tessal::hr::E_OUTOFMEMORY);
        for (std::size_t i = 0; i < areas.size(); ++i) {
            out[i] = tessal_face_rect{areas[i].left, areas[i].top, areas[i].right, areas[i].bottom};
        }
        *colour = face->oleColour;
        *rects = out;
        *count = areas.size();
        return tessal::hr::S_OK;
    });
}

int tessal_take_error_info(char** source, char** description) {
    if (source) *source = nullptr;
    if (description) *description = nullptr;
    try {
        std::optional<tessal::ErrorInfo> info = tessal::takeErrorInfo();
        if (!info) return 0;
        using Text = std::unique_ptr<char, decltype(&std::free)>;
        Text sourceText(source ? copyUtf8(info->source) : nullptr, &std::free);
        Text descriptionText(description ? copyUtf8(info->description) : nullptr, &std::free);
        // Both texts or neither: a caller reads a 1 as both being there.
        if ((source && !sourceText) || (description && !descriptionText)) return 0;
        if (source) *source = sourceText.release();
        if (description) *description = descriptionText.release();
        return 1;
    } catch (...) {
        return 0;
    }
}

void tessal_variant_clear(tessal_variant* value) {
    if (!value) return;
    std::free(const_cast<uint16_t*>(value->str));
    std::free(const_cast<uint8_t*>(value->bytes));
    *value = tessal_variant{};
}

void tessal_free(void* pointer) { std::free(pointer); }

}  // extern "C"
