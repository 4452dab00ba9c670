#pragma once
// The argument forms of `tessal call`.
#include <optional>
#include <string>

#include "tessal/sign.h"

namespace tessal::cli {

// Parses one ARG; on a usage error answers nothing and sets `error`.
std::optional<Argument> parseArgument(const std::string& text, std::string& error);

inline constexpr const char* kArgumentHelp =
    "  s:TEXT     string (UTF-8 text becomes UTF-16; a byte that is not UTF-8\n"
    "             is carried as U+DC80..U+DCFF and printed back as that byte)\n"
    "  sf:PATH    string read from a UTF-8 file\n"
    "  b:PATH     byte array read from a file\n"
    "  x:HEX      byte array from hexadecimal digits\n"
    "  i:N        32-bit integer          u:N   unsigned 32-bit integer\n"
    "  d:N        double                  t:true|false  boolean\n"
    "  e          empty variant           n     null dispatch reference\n"
    "  cb:TEXT    dispatch reference that prints 'cardRemoved TEXT' when called\n"
    "             (the onCardRemoved callback; it runs on the card monitor's thread)\n"
    "  r:ARG      by-reference variant around ARG\n"
    "  -          optional argument left out (its default applies)\n";

}  // namespace tessal::cli
