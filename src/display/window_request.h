#pragma once
// What the library asks of the window program and what it answers, as bytes
// on the socket between them. Every field is length-prefixed and every
// decoder is bounded: the program refuses a request that is too large, cut
// short, or holds more items than its bytes could describe.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "display/summary_rows.h"

namespace tessal::display {

enum class WindowTask : std::uint8_t { ShowSummary = 1, ChooseSaveName = 2 };

struct WindowRequest {
    WindowTask task = WindowTask::ShowSummary;
    // ShowSummary: the rows and the DER certificate or CRL each viewer
    // target of the buttons opens (a missing target opens nothing).
    std::vector<SummaryRow> rows;
    std::map<int, std::vector<std::uint8_t>> objects;
    // ChooseSaveName: the dialog's title and its one filter.
    std::u16string title;
    std::u16string filterName;
    std::u16string filterPattern;

    bool operator==(const WindowRequest&) const = default;
};

// The largest request either side handles; bigger ones are refused whole.
inline constexpr std::size_t kMaxRequestBytes = 32u << 20;
// The largest answer (a chosen file name) the library reads back.
inline constexpr std::size_t kMaxAnswerBytes = 64u << 10;

// The request as sent: a 4-byte mark, the body length (4 bytes, big-endian)
// and the body.
std::string encodeRequest(const WindowRequest& request);
// The body length a request header announces; nothing when the header is
// not one or announces more than kMaxRequestBytes.
inline constexpr std::size_t kRequestHeaderBytes = 8;
std::optional<std::size_t> requestBodyLength(std::string_view header);
// The request a body describes; nothing when any field is cut short,
// oversized, or of an unknown kind, or bytes are left over.
std::optional<WindowRequest> decodeRequestBody(std::string_view body);

// The answer to ChooseSaveName: the chosen name as UTF-16LE units. An empty
// answer means the user cancelled.
std::string encodeChosenName(std::u16string_view name);
std::optional<std::u16string> decodeChosenName(std::string_view answer);

}  // namespace tessal::display
