#include "display/summary_text.h"

#include <string_view>

#include "diagnostics/json_text.h"
#include "diagnostics/utf8_text.h"

namespace tessal::display {

namespace {

// Text columns, counted in characters.
constexpr std::size_t kValueColumn = kValueX / 2;
constexpr std::size_t kSeparatorEnd = 60;

std::size_t indentOf(int x) { return x > 0 ? static_cast<std::size_t>(x / 2) : 0; }

// Characters, not bytes, so that Lithuanian letters take one column.
std::size_t columnsOf(std::string_view utf8) {
    std::size_t count = 0;
    for (const char ch : utf8) {
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++count;
    }
    return count;
}

// The text's lines, split at "\n" with a preceding "\r" dropped; empty lines
// at the end are dropped too, so a record's closing line end adds nothing.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// Every line of `text` on a line of its own; the first after `prefix`, the
// others lined up under the first line's text.
void appendLines(std::string& out, std::size_t indent, std::string_view prefix, const std::u16string& text) {
    const std::vector<std::string> lines = linesOf(diag::utf8Encode(text));
    if (lines.empty()) {
        out.append(indent, ' ');
        out += prefix;
        out += '\n';
        return;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out.append(indent, ' ');
        if (i == 0) {
            out += prefix;
        } else {
            out.append(columnsOf(prefix), ' ');
        }
        out += lines[i];
        out += '\n';
    }
}

void appendLabelValue(std::string& out, const SummaryRow& row) {
    const std::size_t indent = indentOf(row.x);
    const std::string label = diag::utf8Encode(row.label);
    out.append(indent, ' ');
    out += label;
    const std::size_t used = indent + columnsOf(label);
    out.append(used < kValueColumn ? kValueColumn - used : 1, ' ');
    out += diag::utf8Encode(row.value);
    out += '\n';
}

void appendButtons(std::string& out, const SummaryRow& row) {
    out.append(indentOf(row.x), ' ');
    out += '[';
    out += diag::utf8Encode(row.certificateCaption);
    out += ']';
    if (row.crlTarget != 0) {
        out += " [";
        out += diag::utf8Encode(row.crlCaption);
        out += ']';
    }
    out += '\n';
}

void appendMember(std::string& out, std::string_view name, const std::u16string& value) {
    out += ",\"";
    out += name;
    out += "\":";
    diag::appendJsonString(out, diag::utf8Encode(value));
}

void appendMember(std::string& out, std::string_view name, int value) {
    out += ",\"";
    out += name;
    out += "\":";
    out += std::to_string(value);
}

const char* kindName(RowKind kind) {
    switch (kind) {
    case RowKind::Text: return "text";
    case RowKind::LabelValue: return "labelValue";
    case RowKind::Buttons: return "buttons";
    case RowKind::Separator: return "separator";
    case RowKind::Verdict: return "verdict";
    case RowKind::Error: return "error";
    case RowKind::Close: return "close";
    }
    return "text";
}

}  // namespace

std::string summaryText(const std::vector<SummaryRow>& rows) {
    std::string out;
    for (const SummaryRow& row : rows) {
        const std::size_t indent = indentOf(row.x);
        switch (row.kind) {
        case RowKind::Text: appendLines(out, indent, {}, row.text); break;
        case RowKind::LabelValue: appendLabelValue(out, row); break;
        case RowKind::Buttons: appendButtons(out, row); break;
        case RowKind::Separator:
            out.append(indent, ' ');
            out.append(indent < kSeparatorEnd ? kSeparatorEnd - indent : 1, '-');
            out += '\n';
            break;
        case RowKind::Verdict: appendLines(out, indent, row.good ? "+ " : "- ", row.text); break;
        case RowKind::Error: appendLines(out, indent, "! ", row.text); break;
        case RowKind::Close:
            out.append(indent, ' ');
            out += '[';
            out += diag::utf8Encode(row.text);
            out += "]\n";
            break;
        }
    }
    return out;
}

std::string summaryJson(const std::vector<SummaryRow>& rows) {
    std::string out = "[";
    for (const SummaryRow& row : rows) {
        if (out.size() > 1) out += ',';
        out += "{\"kind\":";
        diag::appendJsonString(out, kindName(row.kind));
        appendMember(out, "x", row.x);
        switch (row.kind) {
        case RowKind::Text:
        case RowKind::Error:
        case RowKind::Close: appendMember(out, "text", row.text); break;
        case RowKind::LabelValue:
            appendMember(out, "label", row.label);
            appendMember(out, "value", row.value);
            break;
        case RowKind::Buttons:
            appendMember(out, "certificateTarget", row.certificateTarget);
            appendMember(out, "crlTarget", row.crlTarget);
            break;
        case RowKind::Separator: break;
        case RowKind::Verdict:
            out += ",\"good\":";
            out += row.good ? "true" : "false";
            appendMember(out, "text", row.text);
            break;
        }
        out += '}';
    }
    out += ']';
    return out;
}

}  // namespace tessal::display
