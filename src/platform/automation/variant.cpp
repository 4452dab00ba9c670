#include "tessal/variant.h"

namespace tessal {

Variant Variant::null() {
    Variant v;
    v.type_ = VarType::Null;
    return v;
}

Variant Variant::string(std::u16string text) {
    Variant v;
    v.type_ = VarType::String;
    v.text_ = std::move(text);
    return v;
}

Variant Variant::bytes(std::vector<std::uint8_t> data) {
    Variant v;
    v.type_ = VarType::Bytes;
    v.data_ = std::move(data);
    return v;
}

Variant Variant::int32(std::int32_t value) {
    Variant v;
    v.type_ = VarType::Int;
    v.integer_ = value;
    return v;
}

Variant Variant::uint32(std::uint32_t value) {
    Variant v;
    v.type_ = VarType::UInt;
    v.integer_ = value;
    return v;
}

Variant Variant::real(double value) {
    Variant v;
    v.type_ = VarType::Double;
    v.real_ = value;
    return v;
}

Variant Variant::boolean(bool value) {
    Variant v;
    v.type_ = VarType::Bool;
    // Automation's true is all bits set, so a boolean read as an integer is -1.
    v.integer_ = value ? -1 : 0;
    return v;
}

Variant Variant::date(double oleDate) {
    Variant v;
    v.type_ = VarType::Date;
    v.real_ = oleDate;
    return v;
}

Variant Variant::dispatch(std::shared_ptr<Dispatch> target) {
    Variant v;
    v.type_ = VarType::Dispatch;
    v.dispatch_ = std::move(target);
    return v;
}

Variant Variant::byReference(Variant inner) {
    inner.byRef_ = true;
    return inner;
}

Variant Variant::dereferenced() const {
    Variant v = *this;
    v.byRef_ = false;
    return v;
}

}  // namespace tessal
