#include <cctype>
#include <string>

#include "tessal/interfaces.h"

namespace tessal {

std::optional<Guid> parseGuid(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return std::nullopt;
    std::string hex;
    for (char c : text) {
        if (c == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        hex.push_back(c);
    }
    const auto field = [&](std::size_t at, std::size_t len) {
        return static_cast<std::uint32_t>(std::stoul(hex.substr(at, len), nullptr, 16));
    };
    Guid g{};
    g.data1 = field(0, 8);
    g.data2 = static_cast<std::uint16_t>(field(8, 4));
    g.data3 = static_cast<std::uint16_t>(field(12, 4));
    for (std::size_t i = 0; i < 8; ++i) g.data4[i] = static_cast<std::uint8_t>(field(16 + 2 * i, 2));
    return g;
}

}  // namespace tessal
