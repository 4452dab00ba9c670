#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tessal/variant.h"

namespace tessal {
namespace {

// A dispatch whose default member answers a fixed value (or fails).
class ValueObject : public Dispatch {
public:
    explicit ValueObject(Variant value, HResult status = hr::S_OK) : value_(std::move(value)), status_(status) {}
    HResult invokeDefault(std::vector<Variant>&, Variant& result) override {
        ++calls;
        if (failed(status_)) return status_;
        result = value_;
        return hr::S_OK;
    }
    int calls = 0;

private:
    Variant value_;
    HResult status_;
};

std::u16string textOf(const Variant& in, bool alphaBool = false) {
    Variant out;
    const HResult h = changeType(in, VarType::String, out, alphaBool);
    EXPECT_EQ(h, hr::S_OK);
    EXPECT_TRUE(out.is(VarType::String));
    return out.text();
}

HResult statusOf(const Variant& in, VarType to) {
    Variant out = Variant::string(u"untouched");
    const HResult h = changeType(in, to, out);
    if (failed(h)) {
        EXPECT_TRUE(out.is(VarType::String)) << "a failed conversion must leave the output alone";
        EXPECT_EQ(out.text(), u"untouched");
    }
    return h;
}

std::int32_t intOf(const Variant& in) {
    Variant out;
    EXPECT_EQ(changeType(in, VarType::Int, out), hr::S_OK);
    EXPECT_TRUE(out.is(VarType::Int));
    return out.asInt();
}

std::uint32_t uintOf(const Variant& in) {
    Variant out;
    EXPECT_EQ(changeType(in, VarType::UInt, out), hr::S_OK);
    EXPECT_TRUE(out.is(VarType::UInt));
    return out.asUInt();
}

bool boolOf(const Variant& in) {
    Variant out;
    EXPECT_EQ(changeType(in, VarType::Bool, out), hr::S_OK);
    EXPECT_TRUE(out.is(VarType::Bool));
    return out.asBool();
}

double doubleOf(const Variant& in) {
    Variant out;
    EXPECT_EQ(changeType(in, VarType::Double, out), hr::S_OK);
    EXPECT_TRUE(out.is(VarType::Double));
    return out.asDouble();
}

TEST(ChangeTypeToString, NumbersAndBooleans) {
    EXPECT_EQ(textOf(Variant()), u"");
    EXPECT_EQ(textOf(Variant::int32(-42)), u"-42");
    EXPECT_EQ(textOf(Variant::int32(std::numeric_limits<std::int32_t>::min())), u"-2147483648");
    EXPECT_EQ(textOf(Variant::uint32(4294967295u)), u"4294967295");
    EXPECT_EQ(textOf(Variant::boolean(true)), u"-1");
    EXPECT_EQ(textOf(Variant::boolean(false)), u"0");
    EXPECT_EQ(textOf(Variant::boolean(true), true), u"True");
    EXPECT_EQ(textOf(Variant::boolean(false), true), u"False");
    EXPECT_EQ(textOf(Variant::string(u"ąč")), u"ąč");
}

TEST(ChangeTypeToString, DoublesHaveFifteenSignificantDigits) {
    EXPECT_EQ(textOf(Variant::real(1.5)), u"1.5");
    EXPECT_EQ(textOf(Variant::real(1e20)), u"1E+20");
    EXPECT_EQ(textOf(Variant::real(0.1)), u"0.1");
    EXPECT_EQ(textOf(Variant::real(1.0 / 3.0)), u"0.333333333333333");
    EXPECT_EQ(textOf(Variant::real(-123456789012345678.0)), u"-1.23456789012346E+17");
    EXPECT_EQ(textOf(Variant::real(100.0)), u"100");
    EXPECT_EQ(textOf(Variant::real(-0.0)), u"0");
}

TEST(ChangeTypeToString, DatesAreLocaleNeutral) {
    EXPECT_EQ(textOf(Variant::date(45000.5)), u"2023-03-15 12:00:00");
    EXPECT_EQ(textOf(Variant::date(45000.0)), u"2023-03-15");
    EXPECT_EQ(textOf(Variant::date(0.75)), u"18:00:00");
    EXPECT_EQ(textOf(Variant::date(0.0)), u"00:00:00");
    EXPECT_EQ(textOf(Variant::date(2.0)), u"1900-01-01");
    // Before day 0 the fraction is the time of the (negative) day.
    EXPECT_EQ(textOf(Variant::date(-1.25)), u"1899-12-29 06:00:00");
    // Rounded to the second, carrying into the next day.
    EXPECT_EQ(textOf(Variant::date(1.0 + 86399.6 / 86400.0)), u"1900-01-01");
    EXPECT_EQ(textOf(Variant::date(-657434.0)), u"0100-01-01");
    EXPECT_EQ(textOf(Variant::date(2958465.0)), u"9999-12-31");
    EXPECT_TRUE(failed(statusOf(Variant::date(2958466.0), VarType::String)));
    EXPECT_TRUE(failed(statusOf(Variant::date(std::nan("")), VarType::String)));
}

TEST(ChangeTypeToString, BytesBecomeTheStringsStorage) {
    EXPECT_EQ(textOf(Variant::bytes({0x41, 0x00, 0x05, 0x01})), u"A\u0105");
    EXPECT_EQ(textOf(Variant::bytes({0x41, 0x00, 0x42})), u"AB");
    EXPECT_EQ(textOf(Variant::bytes({})), u"");
}

TEST(ChangeTypeToString, NullAndDispatch) {
    EXPECT_EQ(statusOf(Variant::null(), VarType::String), hr::DISP_E_TYPEMISMATCH);
    EXPECT_EQ(statusOf(Variant::dispatch(nullptr), VarType::String), hr::DISP_E_TYPEMISMATCH);
    auto object = std::make_shared<ValueObject>(Variant::real(2.5));
    EXPECT_EQ(textOf(Variant::dispatch(object)), u"2.5");
    EXPECT_EQ(object->calls, 1);
    auto failing = std::make_shared<ValueObject>(Variant(), hr::DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(statusOf(Variant::dispatch(failing), VarType::String), hr::DISP_E_MEMBERNOTFOUND);
    // A default member that answers another object does not recurse.
    auto nested = std::make_shared<ValueObject>(Variant::dispatch(object));
    EXPECT_EQ(statusOf(Variant::dispatch(nested), VarType::String), hr::DISP_E_TYPEMISMATCH);
    // The default value converts to the other types as well.
    EXPECT_EQ(intOf(Variant::dispatch(std::make_shared<ValueObject>(Variant::string(u" 7 ")))), 7);
}

TEST(ChangeTypeToInt, TextIsParsedAndRoundedHalfToEven) {
    EXPECT_EQ(intOf(Variant::string(u" -12 ")), -12);
    EXPECT_EQ(intOf(Variant::string(u"+12")), 12);
    EXPECT_EQ(intOf(Variant::string(u"2.5")), 2);
    EXPECT_EQ(intOf(Variant::string(u"3.5")), 4);
    EXPECT_EQ(intOf(Variant::string(u"-2.5")), -2);
    EXPECT_EQ(intOf(Variant::string(u"2.51")), 3);
    EXPECT_EQ(intOf(Variant::string(u"1e3")), 1000);
    EXPECT_EQ(intOf(Variant::string(u".5")), 0);
    EXPECT_EQ(intOf(Variant::string(u"5.")), 5);
    EXPECT_EQ(intOf(Variant::string(u"-2147483648")), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(intOf(Variant::string(u"1e-400")), 0);
}

TEST(ChangeTypeToInt, NonNumbersAndOverflow) {
    const char16_t* const notNumbers[] = {u"", u"  ", u"abc", u"12abc", u"1 2", u"0x10", u"inf", u"nan", u"1e", u"-", u".", u"1,5"};
    for (std::size_t i = 0; i < std::size(notNumbers); ++i)
        EXPECT_EQ(statusOf(Variant::string(notNumbers[i]), VarType::Int), hr::DISP_E_TYPEMISMATCH) << "case " << i;
    EXPECT_EQ(statusOf(Variant::string(u"2147483648"), VarType::Int), hr::DISP_E_OVERFLOW);
    EXPECT_EQ(statusOf(Variant::string(u"1e400"), VarType::Int), hr::DISP_E_OVERFLOW);
    EXPECT_EQ(statusOf(Variant::real(2147483647.5), VarType::Int), hr::DISP_E_OVERFLOW);
    EXPECT_EQ(statusOf(Variant::real(std::nan("")), VarType::Int), hr::DISP_E_OVERFLOW);
    EXPECT_EQ(statusOf(Variant::uint32(2147483648u), VarType::Int), hr::DISP_E_OVERFLOW);
    EXPECT_EQ(statusOf(Variant::null(), VarType::Int), hr::DISP_E_TYPEMISMATCH);
    EXPECT_EQ(statusOf(Variant::bytes({1}), VarType::Int), hr::DISP_E_TYPEMISMATCH);
}

TEST(ChangeTypeToInt, OtherSources) {
    EXPECT_EQ(intOf(Variant::real(-2.5)), -2);
    EXPECT_EQ(intOf(Variant::real(1.5)), 2);
    EXPECT_EQ(intOf(Variant::real(2147483647.4)), 2147483647);
    EXPECT_EQ(intOf(Variant::boolean(true)), -1);
    EXPECT_EQ(intOf(Variant::uint32(2147483647u)), 2147483647);
    EXPECT_EQ(intOf(Variant()), 0);
    EXPECT_EQ(intOf(Variant::date(1.5)), 2);
}

TEST(ChangeTypeToUInt, NegativesOverflow) {
    EXPECT_EQ(uintOf(Variant::string(u"4294967295")), 4294967295u);
    EXPECT_EQ(uintOf(Variant::real(-0.4)), 0u);
    EXPECT_EQ(uintOf(Variant::int32(7)), 7u);
    EXPECT_EQ(uintOf(Variant()), 0u);
    EXPECT_EQ(uintOf(Variant::boolean(true)), 0xFFFFFFFFu);  // true keeps all its bits
    EXPECT_EQ(statusOf(Variant::string(u"-1"), VarType::UInt), hr::DISP_E_OVERFLOW);
    EXPECT_EQ(statusOf(Variant::int32(-1), VarType::UInt), hr::DISP_E_OVERFLOW);
    EXPECT_EQ(statusOf(Variant::string(u"4294967296"), VarType::UInt), hr::DISP_E_OVERFLOW);
    EXPECT_EQ(statusOf(Variant::string(u"x"), VarType::UInt), hr::DISP_E_TYPEMISMATCH);
}

TEST(ChangeTypeToBool, NumbersAndWords) {
    EXPECT_FALSE(boolOf(Variant::int32(0)));
    EXPECT_TRUE(boolOf(Variant::int32(5)));
    EXPECT_TRUE(boolOf(Variant::real(0.25)));
    EXPECT_FALSE(boolOf(Variant()));
    EXPECT_TRUE(boolOf(Variant::string(u"TRUE")));
    EXPECT_TRUE(boolOf(Variant::string(u" True ")));
    EXPECT_FALSE(boolOf(Variant::string(u"fAlSe")));
    EXPECT_FALSE(boolOf(Variant::string(u"0")));
    EXPECT_TRUE(boolOf(Variant::string(u"-1")));
    EXPECT_EQ(statusOf(Variant::string(u"yes"), VarType::Bool), hr::DISP_E_TYPEMISMATCH);
    EXPECT_EQ(statusOf(Variant::string(u""), VarType::Bool), hr::DISP_E_TYPEMISMATCH);
    EXPECT_EQ(statusOf(Variant::null(), VarType::Bool), hr::DISP_E_TYPEMISMATCH);
}

TEST(ChangeTypeToDouble, NumbersTextAndBooleans) {
    EXPECT_EQ(doubleOf(Variant::string(u" 1.25e2 ")), 125.0);
    EXPECT_EQ(doubleOf(Variant::string(u"-0.5")), -0.5);
    EXPECT_EQ(doubleOf(Variant::int32(-3)), -3.0);
    EXPECT_EQ(doubleOf(Variant::uint32(4294967295u)), 4294967295.0);
    EXPECT_EQ(doubleOf(Variant::boolean(true)), -1.0);
    EXPECT_EQ(doubleOf(Variant()), 0.0);
    EXPECT_EQ(statusOf(Variant::string(u"1e400"), VarType::Double), hr::DISP_E_OVERFLOW);
    EXPECT_EQ(statusOf(Variant::string(u"1.5.2"), VarType::Double), hr::DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, DispatchAndEmptyTargets) {
    Variant out;
    ASSERT_EQ(changeType(Variant(), VarType::Dispatch, out), hr::S_OK);
    EXPECT_TRUE(out.is(VarType::Dispatch));
    EXPECT_EQ(out.asDispatch(), nullptr);
    auto object = std::make_shared<ValueObject>(Variant::int32(1));
    ASSERT_EQ(changeType(Variant::dispatch(object), VarType::Dispatch, out), hr::S_OK);
    EXPECT_EQ(out.asDispatch(), object);
    EXPECT_EQ(object->calls, 0);
    EXPECT_EQ(statusOf(Variant::int32(1), VarType::Dispatch), hr::DISP_E_TYPEMISMATCH);
    EXPECT_EQ(statusOf(Variant::string(u"x"), VarType::Dispatch), hr::DISP_E_TYPEMISMATCH);

    for (const Variant& v : {Variant::null(), Variant::int32(3), Variant::dispatch(object), Variant::bytes({1})}) {
        out = Variant::int32(9);
        ASSERT_EQ(changeType(v, VarType::Empty, out), hr::S_OK);
        EXPECT_TRUE(out.is(VarType::Empty));
    }
    EXPECT_EQ(object->calls, 0);
}

TEST(ChangeType, UnsupportedTargetsMismatch) {
    EXPECT_EQ(statusOf(Variant::int32(1), VarType::Date), hr::DISP_E_TYPEMISMATCH);
    EXPECT_EQ(statusOf(Variant::int32(1), VarType::Bytes), hr::DISP_E_TYPEMISMATCH);
    EXPECT_EQ(statusOf(Variant::string(u"1"), VarType::Bytes), hr::DISP_E_TYPEMISMATCH);
    EXPECT_EQ(statusOf(Variant::int32(1), VarType::Null), hr::DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, ByReferenceInputIsDereferencedAndOutputIsNot) {
    Variant out;
    ASSERT_EQ(changeType(Variant::byReference(Variant::int32(5)), VarType::String, out), hr::S_OK);
    EXPECT_TRUE(out.is(VarType::String));
    EXPECT_EQ(out.text(), u"5");
    ASSERT_EQ(changeType(Variant::byReference(Variant::string(u"x")), VarType::String, out), hr::S_OK);
    EXPECT_TRUE(out.is(VarType::String));
    EXPECT_FALSE(out.isByRef());
}

TEST(ChangeType, InPlaceConversion) {
    Variant v = Variant::real(0.5);
    ASSERT_EQ(changeType(v, VarType::String, v), hr::S_OK);
    EXPECT_TRUE(v.is(VarType::String));
    EXPECT_EQ(v.text(), u"0.5");
    Variant n = Variant::null();
    EXPECT_EQ(changeType(n, VarType::String, n), hr::DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(n.is(VarType::Null));
}

TEST(VariantFactories, BooleanIsAllBitsAndByReferenceRoundTrips) {
    EXPECT_EQ(Variant::boolean(true).asInt(), -1);
    const Variant ref = Variant::byReference(Variant::bytes({1, 2}));
    EXPECT_TRUE(ref.isByRef());
    EXPECT_FALSE(ref.is(VarType::Bytes));
    EXPECT_EQ(ref.type(), VarType::Bytes);
    const Variant plain = ref.dereferenced();
    EXPECT_TRUE(plain.is(VarType::Bytes));
    EXPECT_EQ(plain.data(), (std::vector<std::uint8_t>{1, 2}));
}

}  // namespace
}  // namespace tessal
