#pragma once
// printf-style formatting into UTF-16, with the conventions of the platform's
// wide printf: %s takes a UTF-16 string, %S a narrow (UTF-8) string, %d/%i/%u/
// %x/%X/%o/%c integers (32-bit unless an l/ll/I64 modifier says otherwise),
// flags "-+ 0#", width and precision (also as '*').
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace tessal::diag {

class FormatArg {
public:
    template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
    FormatArg(T v) : value_(static_cast<std::int64_t>(v)) {}
    template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
    FormatArg(T v) : value_(static_cast<std::uint64_t>(v)) {}
    FormatArg(double v) : value_(v) {}
    FormatArg(std::u16string_view s) : value_(s) {}
    FormatArg(const std::u16string& s) : value_(std::u16string_view(s)) {}
    FormatArg(const char16_t* s) : value_(std::u16string_view(s ? s : u"(null)")) {}
    FormatArg(std::string_view s) : value_(s) {}
    FormatArg(const std::string& s) : value_(std::string_view(s)) {}
    FormatArg(const char* s) : value_(std::string_view(s ? s : "(null)")) {}

    using Value = std::variant<std::int64_t, std::uint64_t, double, std::u16string_view, std::string_view>;
    const Value& value() const { return value_; }

private:
    Value value_;
};

using FormatArgs = std::initializer_list<FormatArg>;

// Formats `format` with `args`. Missing arguments format as 0 or as an empty
// string; a finished text with no arguments is returned with only "%%" folded.
std::u16string formatWide(std::u16string_view format, FormatArgs args = {});

// The same conventions for a narrow (UTF-8) format; %s and %S both accept
// either kind of string here.
std::string formatNarrow(std::string_view format, FormatArgs args = {});

}  // namespace tessal::diag
