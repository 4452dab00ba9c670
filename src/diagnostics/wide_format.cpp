#include "diagnostics/wide_format.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "diagnostics/utf8_text.h"

namespace tessal::diag {

namespace {

struct Spec {
    bool left = false, plus = false, space = false, zero = false, alt = false;
    int width = 0;
    int precision = -1;
    bool wide = false;  // l, ll, I64: 64-bit integers
    char conv = 0;
};

class ArgCursor {
public:
    explicit ArgCursor(FormatArgs args) : args_(args.begin(), args.end()) {}
    const FormatArg* next() { return index_ < args_.size() ? &args_[index_++] : nullptr; }

private:
    std::vector<FormatArg> args_;
    std::size_t index_ = 0;
};

std::int64_t asSigned(const FormatArg* a) {
    if (!a) return 0;
    const auto& v = a->value();
    if (auto p = std::get_if<std::int64_t>(&v)) return *p;
    if (auto p = std::get_if<std::uint64_t>(&v)) return static_cast<std::int64_t>(*p);
    if (auto p = std::get_if<double>(&v)) return static_cast<std::int64_t>(*p);
    return 0;
}

double asReal(const FormatArg* a) {
    if (!a) return 0;
    const auto& v = a->value();
    if (auto p = std::get_if<double>(&v)) return *p;
    if (auto p = std::get_if<std::int64_t>(&v)) return static_cast<double>(*p);
    if (auto p = std::get_if<std::uint64_t>(&v)) return static_cast<double>(*p);
    return 0;
}

// The argument as UTF-16 text: wide strings as they are, narrow ones decoded.
std::u16string asText(const FormatArg* a) {
    if (!a) return {};
    const auto& v = a->value();
    if (auto p = std::get_if<std::u16string_view>(&v)) return std::u16string(*p);
    if (auto p = std::get_if<std::string_view>(&v)) return utf16Of(*p);
    return {};
}

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string pad(std::u16string body, const Spec& s, bool numeric) {
    if (static_cast<int>(body.size()) >= s.width) return body;
    const std::size_t fill = static_cast<std::size_t>(s.width) - body.size();
    if (s.left) return body + std::u16string(fill, u' ');
    if (numeric && s.zero && s.precision < 0) {
        // Zeros go after the sign or the 0x prefix.
        std::size_t at = 0;
        if (!body.empty() && (body[0] == u'-' || body[0] == u'+' || body[0] == u' ')) at = 1;
        if (body.size() >= at + 2 && body[at] == u'0' && (body[at + 1] == u'x' || body[at + 1] == u'X')) at += 2;
        return body.insert(at, fill, u'0');
    }
    return std::u16string(fill, u' ') + body;
}

std::u16string formatInteger(const Spec& s, const FormatArg* arg) {
    const std::int64_t raw = asSigned(arg);
    std::string digits;
    std::string sign;
    std::string prefix;
    if (s.conv == 'd' || s.conv == 'i') {
        const std::int64_t v = s.wide ? raw : static_cast<std::int32_t>(raw);
        const std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        digits = std::to_string(mag);
        if (v < 0) sign = "-"; else if (s.plus) sign = "+"; else if (s.space) sign = " ";
    } else {
        const std::uint64_t v = s.wide ? static_cast<std::uint64_t>(raw) : static_cast<std::uint32_t>(raw);
        char buf[32];
        const char* f = s.conv == 'x' ? "%llx" : s.conv == 'X' ? "%llX" : s.conv == 'o' ? "%llo" : "%llu";
        std::snprintf(buf, sizeof buf, f, static_cast<unsigned long long>(v));
        digits = buf;
        if (s.alt && v != 0 && (s.conv == 'x' || s.conv == 'X')) prefix = s.conv == 'x' ? "0x" : "0X";
        if (s.alt && s.conv == 'o' && digits[0] != '0') prefix = "0";
    }
    if (s.precision >= 0) {
        if (s.precision == 0 && digits == "0") digits.clear();
        if (static_cast<int>(digits.size()) < s.precision) digits.insert(0, static_cast<std::size_t>(s.precision) - digits.size(), '0');
    }
    return pad(widen(sign + prefix + digits), s, true);
}

std::u16string formatReal(const Spec& s, const FormatArg* arg) {
    std::string f = "%";
    if (s.left) f += '-';
    if (s.plus) f += '+';
    if (s.space) f += ' ';
    if (s.zero) f += '0';
    if (s.alt) f += '#';
    if (s.width > 0) f += std::to_string(s.width);
    if (s.precision >= 0) f += "." + std::to_string(s.precision);
    f += s.conv;
    char buf[512];
    std::snprintf(buf, sizeof buf, f.c_str(), asReal(arg));
    return widen(buf);
}

}  // namespace

std::u16string formatWide(std::u16string_view format, FormatArgs args) {
    ArgCursor cursor(args);
    std::u16string out;
    out.reserve(format.size() + 32);
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        if (c != u'%') {
            out.push_back(c);
            continue;
        }
        const std::size_t start = i;
        Spec s;
        ++i;
        for (; i < format.size(); ++i) {
            const char16_t f = format[i];
            if (f == u'-') s.left = true;
            else if (f == u'+') s.plus = true;
            else if (f == u' ') s.space = true;
            else if (f == u'0') s.zero = true;
            else if (f == u'#') s.alt = true;
            else break;
        }
        if (i < format.size() && format[i] == u'*') {
            s.width = static_cast<int>(asSigned(cursor.next()));
            if (s.width < 0) { s.left = true; s.width = -s.width; }
            ++i;
        } else {
            while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') s.width = s.width * 10 + (format[i++] - u'0');
        }
        if (i < format.size() && format[i] == u'.') {
            ++i;
            s.precision = 0;
            if (i < format.size() && format[i] == u'*') {
                s.precision = static_cast<int>(asSigned(cursor.next()));
                ++i;
            } else {
                while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') s.precision = s.precision * 10 + (format[i++] - u'0');
            }
        }
        // Length modifiers: h and l are 32-bit on the platform whose formats
        // these are; ll and I64 are 64-bit.
        while (i < format.size()) {
            const char16_t m = format[i];
            if (m == u'h' || m == u'w') { ++i; continue; }
            if (m == u'l') {
                if (i + 1 < format.size() && format[i + 1] == u'l') { s.wide = true; ++i; }
                ++i;
                continue;
            }
            if (m == u'I' && format.substr(i, 3) == u"I64") { s.wide = true; i += 3; continue; }
            break;
        }
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        s.conv = static_cast<char>(format[i]);
        switch (format[i]) {
            case u'%': out.push_back(u'%'); break;
            case u'd': case u'i': case u'u': case u'x': case u'X': case u'o':
                out += formatInteger(s, cursor.next());
                break;
            case u'f': case u'F': case u'e': case u'E': case u'g': case u'G':
                out += formatReal(s, cursor.next());
                break;
            case u'c': case u'C': {
                std::u16string one(1, static_cast<char16_t>(asSigned(cursor.next())));
                out += pad(one, s, false);
                break;
            }
            case u's': case u'S': {
                std::u16string text = asText(cursor.next());
                if (s.precision >= 0 && static_cast<int>(text.size()) > s.precision) text.resize(static_cast<std::size_t>(s.precision));
                out += pad(std::move(text), s, false);
                break;
            }
            default:
                out.append(format.substr(start, i - start + 1));
                break;
        }
    }
    return out;
}

std::string formatNarrow(std::string_view format, FormatArgs args) {
    return utf8Encode(formatWide(utf16Of(format), args));
}

}  // namespace tessal::diag
