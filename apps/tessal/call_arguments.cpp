#include "call_arguments.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "diagnostics/utf8_text.h"

#include "file_input.h"
#include "removal_printer.h"

namespace tessal::cli {

namespace {

template <typename T>
std::optional<T> parseInteger(const std::string& text) {
    T value{};
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

namespace {

std::optional<Argument> parsePlainArgument(const std::string& text, std::string& error);

}  // namespace

// "r:" may be repeated; the prefixes are counted in a loop, so any argument
// length is parsed without a recursion as deep as the text is long.
std::optional<Argument> parseArgument(const std::string& text, std::string& error) {
    std::size_t references = 0;
    std::string_view rest = text;
    while (rest.starts_with("r:")) {
        rest.remove_prefix(2);
        ++references;
    }
    std::optional<Argument> argument = parsePlainArgument(std::string(rest), error);
    if (!argument || references == 0) return argument;
    if (!*argument) {
        error = "r: needs a value";
        return std::nullopt;
    }
    Variant value = **argument;
    for (std::size_t i = 0; i < references; ++i) value = Variant::byReference(value);
    return Argument{value};
}

namespace {

std::optional<Argument> parsePlainArgument(const std::string& text, std::string& error) {
    if (text == "-") return Argument{};
    if (text == "e") return Argument{Variant()};
    if (text == "n") return Argument{Variant::dispatch(nullptr)};
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        error = "unknown argument form '" + text + "'";
        return std::nullopt;
    }
    const std::string kind = text.substr(0, colon);
    const std::string value = text.substr(colon + 1);
    // Bytes that are not UTF-8 (a file name, say) are carried, not dropped.
    if (kind == "cb") return Argument{Variant::dispatch(removalPrinter(value))};
    if (kind == "s") return Argument{Variant::string(diag::utf8DecodeEach(value, diag::InvalidByte::Escape))};
    if (kind == "sf" || kind == "b") {
        if (kind == "b") {
            std::optional<std::vector<std::uint8_t>> octets = readFileOctets(value);
            if (!octets) {
                error = "cannot read '" + value + "'";
                return std::nullopt;
            }
            return Argument{Variant::bytes(std::move(*octets))};
        }
        std::optional<std::string> content = readFileBytes(value);
        if (!content) {
            error = "cannot read '" + value + "'";
            return std::nullopt;
        }
        return Argument{Variant::string(diag::utf8Decode(*content, content->size() + 1).units)};
    }
    if (kind == "x") {
        std::vector<std::uint8_t> bytes;
        if (value.size() % 2 != 0) {
            error = "odd number of hexadecimal digits in '" + text + "'";
            return std::nullopt;
        }
        for (std::size_t i = 0; i < value.size(); i += 2) {
            const int hi = hexDigit(value[i]);
            const int lo = hexDigit(value[i + 1]);
            if (hi < 0 || lo < 0) {
                error = "not hexadecimal: '" + text + "'";
                return std::nullopt;
            }
            bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        return Argument{Variant::bytes(std::move(bytes))};
    }
    if (kind == "i") {
        if (auto v = parseInteger<std::int32_t>(value)) return Argument{Variant::int32(*v)};
        error = "not a 32-bit integer: '" + value + "'";
        return std::nullopt;
    }
    if (kind == "u") {
        if (auto v = parseInteger<std::uint32_t>(value)) return Argument{Variant::uint32(*v)};
        error = "not an unsigned 32-bit integer: '" + value + "'";
        return std::nullopt;
    }
    if (kind == "d") {
        char* end = nullptr;
        errno = 0;
        const double v = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || errno == ERANGE) {
            error = "not a number: '" + value + "'";
            return std::nullopt;
        }
        return Argument{Variant::real(v)};
    }
    if (kind == "t") {
        if (value == "true") return Argument{Variant::boolean(true)};
        if (value == "false") return Argument{Variant::boolean(false)};
        error = "a boolean is t:true or t:false";
        return std::nullopt;
    }
    error = "unknown argument form '" + text + "'";
    return std::nullopt;
}

}  // namespace

}  // namespace tessal::cli
