#pragma once
// The automation value passed to and returned by members: empty, null, UTF-16
// string, byte array, 32-bit integer, unsigned integer, double, boolean, date,
// or a dispatch reference. A by-reference variant carries the same value with
// the byRef flag set, as a script engine passes a variable by reference.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tessal/hresult.h"

namespace tessal {

class Variant;

// A callable object handed to the component (the card-removal callback).
class Dispatch {
public:
    virtual ~Dispatch() = default;
    // Invokes the object's default member with the given arguments; its
    // value, if it has one, goes to `result`.
    virtual HResult invokeDefault(std::vector<Variant>& args, Variant& result) = 0;
};

enum class VarType { Empty, Null, String, Bytes, Int, UInt, Double, Bool, Date, Dispatch };

class Variant {
public:
    Variant() = default;
    static Variant null();
    static Variant string(std::u16string text);
    static Variant bytes(std::vector<std::uint8_t> data);
    static Variant int32(std::int32_t v);
    static Variant uint32(std::uint32_t v);
    static Variant real(double v);
    static Variant boolean(bool v);
    // An automation date: days since 1899-12-30, fraction of the day as time.
    static Variant date(double oleDate);
    static Variant dispatch(std::shared_ptr<Dispatch> target);
    // The same value, passed by reference.
    static Variant byReference(Variant inner);

    VarType type() const { return type_; }
    bool isByRef() const { return byRef_; }
    bool is(VarType t) const { return type_ == t && !byRef_; }

    const std::u16string& text() const { return text_; }
    const std::vector<std::uint8_t>& data() const { return data_; }
    std::int32_t asInt() const { return static_cast<std::int32_t>(integer_); }
    std::uint32_t asUInt() const { return static_cast<std::uint32_t>(integer_); }
    double asDouble() const { return real_; }
    bool asBool() const { return integer_ != 0; }
    const std::shared_ptr<Dispatch>& asDispatch() const { return dispatch_; }

    // The value without the by-reference flag.
    Variant dereferenced() const;

private:
    VarType type_ = VarType::Empty;
    bool byRef_ = false;
    std::u16string text_;
    std::vector<std::uint8_t> data_;
    std::int64_t integer_ = 0;
    double real_ = 0.0;
    std::shared_ptr<Dispatch> dispatch_;
};

// Conversion between variant types with the rules of the automation runtime:
// numbers and booleans to text and back, dates to text, empty to "" or 0.
// `alphaBool` writes booleans as "True"/"False" instead of "-1"/"0".
HResult changeType(const Variant& in, VarType to, Variant& out, bool alphaBool = false);

}  // namespace tessal
