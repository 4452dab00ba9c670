#include "page_values.h"

#include <cmath>
#include <limits>

#include "channel.h"
#include "data/codecs.h"
#include "diagnostics/utf8_text.h"

namespace tessal::host {

namespace {

std::optional<Argument> numberArgument(const nlohmann::json& value) {
    const double number = value.get<double>();
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            if (value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
                return Argument(Variant::int32(static_cast<std::int32_t>(value.get<std::uint64_t>())));
            }
        } else {
            const std::int64_t whole = value.get<std::int64_t>();
            if (whole >= std::numeric_limits<std::int32_t>::min() && whole <= std::numeric_limits<std::int32_t>::max()) {
                return Argument(Variant::int32(static_cast<std::int32_t>(whole)));
            }
        }
        return Argument(Variant::real(number));
    }
    // A page's numbers are all doubles; one that is whole and fits is an integer.
    if (std::isfinite(number) && number == std::trunc(number) && number >= std::numeric_limits<std::int32_t>::min() &&
        number <= std::numeric_limits<std::int32_t>::max()) {
        return Argument(Variant::int32(static_cast<std::int32_t>(number)));
    }
    return Argument(Variant::real(number));
}

}  // namespace

std::optional<Argument> argumentOf(const nlohmann::json& value, const CallbackFactory& callbacks) {
    if (value.is_null()) return Argument();
    if (value.is_string()) {
        return Argument(Variant::string(diag::utf8DecodeEach(value.get_ref<const std::string&>(), diag::InvalidByte::Replace)));
    }
    if (value.is_boolean()) return Argument(Variant::boolean(value.get<bool>()));
    if (value.is_number()) return numberArgument(value);
    if (!value.is_object() || value.size() != 1) return std::nullopt;
    if (const auto bytes = value.find("bytes"); bytes != value.end() && bytes->is_string()) {
        data::Bytes data;
        const std::string& text = bytes->get_ref<const std::string&>();
        if (!text.empty() && !data::base64Decode(text, data)) return std::nullopt;
        return Argument(Variant::bytes(std::move(data)));
    }
    if (const auto callback = value.find("callback"); callback != value.end() && callback->is_number_integer()) {
        return Argument(Variant::dispatch(callbacks(callback->get<std::int64_t>())));
    }
    return std::nullopt;
}

nlohmann::json jsonOf(const Variant& in) {
    const Variant value = in.dereferenced();
    switch (value.type()) {
        case VarType::String: return utf8ForJson(value.text());
        case VarType::Bytes: {
            std::string text;
            data::base64Encode(value.data(), text);
            return {{"bytes", text}};
        }
        case VarType::Int: return value.asInt();
        case VarType::UInt: return value.asUInt();
        case VarType::Bool: return value.asBool();
        case VarType::Double:
        case VarType::Date: return std::isfinite(value.asDouble()) ? nlohmann::json(value.asDouble()) : nlohmann::json();
        default: return nullptr;
    }
}

}  // namespace tessal::host
