// Variant conversion with the automation runtime's rules for the types a
// Variant can hold. Numbers are parsed and printed without the process
// locale, so a script sees the same text whatever locale the host runs in.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "tessal/variant.h"

namespace tessal {

namespace {

// OLE dates from 0100-01-01 to 9999-12-31, as days since 1899-12-30.
constexpr double kMinOleDate = -657434.0;
constexpr double kMaxOleDateExclusive = 2958466.0;
constexpr std::int64_t kOleEpochFromUnixDays = -25569;  // 1899-12-30 relative to 1970-01-01

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

std::u16string_view trimmed(std::u16string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool equalsIgnoringAsciiCase(std::u16string_view s, std::string_view ascii) {
    if (s.size() != ascii.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        char a = ascii[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (c != static_cast<unsigned char>(a)) return false;
    }
    return true;
}

// Decimal text with optional sign, fraction and exponent, surrounded by
// blanks. S_OK with the value, DISP_E_TYPEMISMATCH for anything else,
// DISP_E_OVERFLOW beyond the range of a double.
HResult parseNumber(std::u16string_view text, double& value) {
    const std::u16string_view s = trimmed(text);
    std::string ascii;
    ascii.reserve(s.size());
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    const auto isDigit = [&](std::size_t k) { return k < s.size() && s[k] >= u'0' && s[k] <= u'9'; };
    std::size_t mantissaDigits = 0;
    // Decimal position of the leading significant digit, to tell overflow
    // from underflow when the value leaves the range of a double.
    std::int64_t magnitude = 0;
    bool significant = false;
    while (isDigit(i)) {
        if (s[i] != u'0') significant = true;
        if (significant) ++magnitude;
        ascii.push_back(static_cast<char>(s[i++]));
        ++mantissaDigits;
    }
    if (i < s.size() && s[i] == u'.') {
        ascii.push_back('.');
        ++i;
        while (isDigit(i)) {
            if (!significant) {
                if (s[i] != u'0')
                    significant = true;
                else
                    --magnitude;
            }
            ascii.push_back(static_cast<char>(s[i++]));
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) return hr::DISP_E_TYPEMISMATCH;
    std::int64_t exponent = 0;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        ascii.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ascii.push_back(static_cast<char>(s[i++]));
        if (!isDigit(i)) return hr::DISP_E_TYPEMISMATCH;
        bool expNegative = ascii.back() == '-';
        while (isDigit(i)) {
            if (exponent < 100000) exponent = exponent * 10 + (s[i] - u'0');
            ascii.push_back(static_cast<char>(s[i++]));
        }
        if (expNegative) exponent = -exponent;
    }
    if (i != s.size()) return hr::DISP_E_TYPEMISMATCH;

    double parsed = 0.0;
    const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), parsed, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        if (significant && magnitude + exponent > 0) return hr::DISP_E_OVERFLOW;
        parsed = 0.0;  // too small to hold: zero, as the runtime rounds it
    } else if (ec != std::errc() || end != ascii.data() + ascii.size()) {
        return hr::DISP_E_TYPEMISMATCH;
    }
    value = negative ? -parsed : parsed;
    return hr::S_OK;
}

double roundHalfEven(double x) {
    const double floor = std::floor(x);
    const double diff = x - floor;
    if (diff > 0.5) return floor + 1.0;
    if (diff < 0.5) return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

// The value of a source that converts to a number; nothing for a type that
// does not (Null, Bytes, Dispatch), DISP_E_TYPEMISMATCH / DISP_E_OVERFLOW
// through `status` for text that is not a number.
std::optional<double> numericValue(const Variant& v, HResult& status) {
    status = hr::S_OK;
    switch (v.type()) {
        case VarType::Empty: return 0.0;
        case VarType::Int: return static_cast<double>(v.asInt());
        case VarType::UInt: return static_cast<double>(v.asUInt());
        case VarType::Bool: return v.asBool() ? -1.0 : 0.0;
        case VarType::Double:
        case VarType::Date: return v.asDouble();
        case VarType::String: {
            double d = 0.0;
            status = parseNumber(v.text(), d);
            if (failed(status)) return std::nullopt;
            return d;
        }
        default: status = hr::DISP_E_TYPEMISMATCH; return std::nullopt;
    }
}

HResult toInteger(const Variant& v, bool isUnsigned, Variant& out) {
    // Booleans keep their bits: true is -1, and 0xFFFFFFFF as unsigned.
    if (v.type() == VarType::Bool) {
        out = isUnsigned ? Variant::uint32(v.asBool() ? 0xFFFFFFFFu : 0u) : Variant::int32(v.asBool() ? -1 : 0);
        return hr::S_OK;
    }
    HResult status = hr::S_OK;
    const auto value = numericValue(v, status);
    if (!value) return status;
    if (std::isnan(*value)) return hr::DISP_E_OVERFLOW;
    const double rounded = roundHalfEven(*value);
    if (isUnsigned) {
        if (rounded < 0.0 || rounded > 4294967295.0) return hr::DISP_E_OVERFLOW;
        out = Variant::uint32(static_cast<std::uint32_t>(rounded));
    } else {
        if (rounded < -2147483648.0 || rounded > 2147483647.0) return hr::DISP_E_OVERFLOW;
        out = Variant::int32(static_cast<std::int32_t>(rounded));
    }
    return hr::S_OK;
}

HResult toDouble(const Variant& v, Variant& out) {
    HResult status = hr::S_OK;
    const auto value = numericValue(v, status);
    if (!value) return status;
    out = Variant::real(*value);
    return hr::S_OK;
}

HResult toBool(const Variant& v, Variant& out) {
    if (v.type() == VarType::String) {
        const auto s = trimmed(v.text());
        if (equalsIgnoringAsciiCase(s, "true")) {
            out = Variant::boolean(true);
            return hr::S_OK;
        }
        if (equalsIgnoringAsciiCase(s, "false")) {
            out = Variant::boolean(false);
            return hr::S_OK;
        }
    }
    HResult status = hr::S_OK;
    const auto value = numericValue(v, status);
    if (!value) return status;
    out = Variant::boolean(*value != 0.0);
    return hr::S_OK;
}

std::u16string widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Up to 15 significant digits in the "%.15G" form: 1.5 gives "1.5", 1e20
// gives "1E+20".
std::u16string formatDouble(double d) {
    if (d == 0.0) return u"0";  // negative zero too
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    if (ec != std::errc()) return u"0";
    std::string text(buf, end);
    for (auto& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return widen(text);
}

// Days since 1970-01-01 to a proleptic Gregorian date.
void civilFromDays(std::int64_t z, int& year, unsigned& month, unsigned& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(yoe + era * 400) + (month <= 2 ? 1 : 0);
}

// The runtime prints dates in the user's locale; this system prints them
// locale-neutral as "YYYY-MM-DD HH:MM:SS", the date alone when the time is
// midnight, and the time alone on day 0 (1899-12-30), which automation uses
// for a pure time of day. The time is rounded to the nearest second; dates
// before day 0 hold the time as the positive fraction of a negative day.
HResult formatDate(double oleDate, std::u16string& out) {
    if (std::isnan(oleDate) || oleDate < kMinOleDate || oleDate >= kMaxOleDateExclusive) return hr::E_INVALIDARG;
    auto days = static_cast<std::int64_t>(std::trunc(oleDate));
    auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(oleDate - static_cast<double>(days)) * 86400.0));
    if (seconds >= 86400) {
        seconds -= 86400;
        ++days;
    }
    const int hh = static_cast<int>(seconds / 3600);
    const int mm = static_cast<int>(seconds / 60 % 60);
    const int ss = static_cast<int>(seconds % 60);
    char buf[40];
    if (days == 0) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hh, mm, ss);
    } else {
        int y = 0;
        unsigned m = 0;
        unsigned d = 0;
        civilFromDays(days + kOleEpochFromUnixDays, y, m, d);
        if (seconds == 0)
            std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", y, m, d);
        else
            std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", y, m, d, hh, mm, ss);
    }
    out = widen(buf);
    return hr::S_OK;
}

HResult toString(const Variant& v, bool alphaBool, Variant& out) {
    switch (v.type()) {
        case VarType::Empty: out = Variant::string(u""); return hr::S_OK;
        case VarType::Int: out = Variant::string(widen(std::to_string(v.asInt()))); return hr::S_OK;
        case VarType::UInt: out = Variant::string(widen(std::to_string(v.asUInt()))); return hr::S_OK;
        case VarType::Double: out = Variant::string(formatDouble(v.asDouble())); return hr::S_OK;
        case VarType::Bool:
            if (alphaBool)
                out = Variant::string(v.asBool() ? u"True" : u"False");
            else
                out = Variant::string(v.asBool() ? u"-1" : u"0");
            return hr::S_OK;
        case VarType::Date: {
            std::u16string text;
            const HResult h = formatDate(v.asDouble(), text);
            if (succeeded(h)) out = Variant::string(std::move(text));
            return h;
        }
        case VarType::Bytes: {
            // The bytes become the string's storage: two bytes a unit, least
            // significant first; an odd last byte is a unit of its own.
            const auto& b = v.data();
            std::u16string text;
            text.reserve((b.size() + 1) / 2);
            for (std::size_t i = 0; i < b.size(); i += 2) {
                const unsigned high = i + 1 < b.size() ? b[i + 1] : 0u;
                text.push_back(static_cast<char16_t>(b[i] | (high << 8)));
            }
            out = Variant::string(std::move(text));
            return hr::S_OK;
        }
        default: return hr::DISP_E_TYPEMISMATCH;
    }
}

HResult convertValue(const Variant& v, VarType to, Variant& out, bool alphaBool, int depth);

// A dispatch converts through the value of its default member, which the
// object answers by leaving it as the last element of the (empty) argument
// list; no element means an empty value.
HResult convertDispatch(const Variant& v, VarType to, Variant& out, bool alphaBool, int depth) {
    if (!v.asDispatch() || depth > 0) return hr::DISP_E_TYPEMISMATCH;
    std::vector<Variant> args;
    Variant result;
    const HResult h = v.asDispatch()->invokeDefault(args, result);
    if (failed(h)) return h;
    const Variant value = result.dereferenced();
    return convertValue(value, to, out, alphaBool, depth + 1);
}

HResult convertValue(const Variant& v, VarType to, Variant& out, bool alphaBool, int depth) {
    if (to == VarType::Empty) {
        out = Variant();
        return hr::S_OK;
    }
    if (v.type() == to) {
        out = v;
        return hr::S_OK;
    }
    if (v.type() == VarType::Dispatch) return convertDispatch(v, to, out, alphaBool, depth);
    switch (to) {
        case VarType::String: return toString(v, alphaBool, out);
        case VarType::Int: return toInteger(v, false, out);
        case VarType::UInt: return toInteger(v, true, out);
        case VarType::Double: return toDouble(v, out);
        case VarType::Bool: return toBool(v, out);
        case VarType::Dispatch:
            if (v.type() != VarType::Empty) return hr::DISP_E_TYPEMISMATCH;
            out = Variant::dispatch(nullptr);
            return hr::S_OK;
        default: return hr::DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

HResult changeType(const Variant& in, VarType to, Variant& out, bool alphaBool) {
    // Work on a dereferenced copy, so `in` and `out` may be the same variant
    // and `out` is left untouched when the conversion fails.
    const Variant source = in.dereferenced();
    Variant result;
    const HResult h = convertValue(source, to, result, alphaBool, 0);
    if (succeeded(h)) out = std::move(result);
    return h;
}

}  // namespace tessal
