#include "display/window_layout.h"

namespace tessal::display {

namespace {

constexpr int kWindowWidth = 300;
constexpr std::u16string_view kTitle = u"Skaitmeninio parašo informacija";
// Items are laid out up to this right edge; separators reach 2 units further.
constexpr int kRightEdge = 296;
constexpr int kSeparatorRightEdge = 298;
// An item narrower than nothing measures against a full-width line instead.
constexpr int kFallbackLineWidth = 292;
constexpr int kLineHeight = 8;
constexpr int kMarkSize = 8;
constexpr int kButtonHeight = 12;
constexpr int kButtonPadding = 8;
constexpr int kButtonGap = 3;

// The width of `text`, or 2 units per character when the font cannot tell.
int measured(std::u16string_view text, const TextMeasurer& measure) {
    if (const std::optional<int> width = measure.width(text)) return *width;
    return 2 * static_cast<int>(text.size());
}

bool endsWord(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

// Places items top to bottom, growing the window's height.
class Builder {
public:
    explicit Builder(const TextMeasurer& measure) : measure_(measure) {}

    void add(const SummaryRow& row) {
        if (!started_) height_ += 2;  // a margin above the first row
        started_ = true;
        height_ += row.gapBefore;
        switch (row.kind) {
        case RowKind::Text: height_ += text(row.x, row.text); break;
        case RowKind::LabelValue:
            text(row.x, row.label);
            height_ += text(kValueX, row.value);
            break;
        case RowKind::Buttons: buttons(row); break;
        case RowKind::Separator:
            push({ItemKind::Separator, row.x, height_ + 2, kSeparatorRightEdge - row.x, kLineHeight, 200, {}});
            height_ += kLineHeight;
            break;
        case RowKind::Verdict:
            push({row.good ? ItemKind::GoodMark : ItemKind::BadMark, row.x, height_, kMarkSize, kMarkSize, 200, {}});
            height_ += text(row.x + kMarkTextOffset, row.text);
            break;
        case RowKind::Error:
            push({ItemKind::WarningIcon, row.x, height_, kMarkSize, kMarkSize, 200, {}});
            height_ += text(kErrorTextX, row.text);
            height_ += 2;  // keeps the separator below clear of the text
            break;
        case RowKind::Close:
            height_ += 2;
            button(kRightEdge, targets::kClose, row.text);
            height_ += 16;
            break;
        }
    }

    WindowLayout finish() {
        layout_.title = std::u16string(kTitle);
        layout_.width = kWindowWidth;
        layout_.height = height_;
        return std::move(layout_);
    }

private:
    // A wrapped text item at the current height; answers its height.
    int text(int x, const std::u16string& content) {
        const int width = kRightEdge - x;
        const int itemHeight = kLineHeight * lineCount(content, width, measure_);
        push({ItemKind::Text, x, height_, width, itemHeight, 200, content});
        return itemHeight;
    }

    // A button whose right edge is at `rightEdge`; answers its width.
    int button(int rightEdge, int id, const std::u16string& caption) {
        const int width = measured(caption, measure_) + kButtonPadding;
        push({ItemKind::Button, rightEdge - width, height_, width, kButtonHeight, id, caption});
        return width;
    }

    void buttons(const SummaryRow& row) {
        height_ += 2;
        const int first = button(kRightEdge, row.certificateTarget, row.certificateCaption);
        if (row.crlTarget != 0) button(kRightEdge - first - kButtonGap, row.crlTarget, row.crlCaption);
        height_ += kButtonHeight;
    }

    void push(WindowItem item) { layout_.items.push_back(std::move(item)); }

    const TextMeasurer& measure_;
    WindowLayout layout_;
    int height_ = 0;
    bool started_ = false;
};

}  // namespace

int lineCount(std::u16string_view text, int availableWidth, const TextMeasurer& measure) {
    const int limit = availableWidth < 0 ? kFallbackLineWidth : availableWidth;
    const std::size_t size = text.size();
    // Does the line so far, through the character at `last`, overflow?
    auto overflows = [&](std::size_t lineStart, std::size_t last) {
        const std::size_t end = last < size ? last + 1 : size;
        return measured(text.substr(lineStart, end - lineStart), measure) > limit;
    };
    int count = 1;
    std::size_t lineStart = 0;
    std::size_t position = 0;
    while (position < size) {
        if (!endsWord(text[position])) {
            // A word: the line through the character that ends it. A word that
            // does not fit starts the next line. Every later position inside
            // the word measures the same stretch and decides the same, so the
            // next decision is at the word's end.
            std::size_t wordEnd = position;
            while (wordEnd < size && !endsWord(text[wordEnd])) ++wordEnd;
            if (overflows(lineStart, wordEnd)) {
                ++count;
                lineStart = position;
            }
            position = wordEnd;
            if (position == size) break;
        } else if (overflows(lineStart, position)) {
            // A space, tab or line feed that no word led up to.
            ++count;
            lineStart = position;
        }
        if (text[position] == u'\n') {
            ++count;
            lineStart = position + 1;
        }
        ++position;
        // Past a trailing space or tab the line is measured once more.
        if (position == size && overflows(lineStart, position)) ++count;
    }
    return count;
}

WindowLayout layoutWindow(const std::vector<SummaryRow>& rows, const TextMeasurer& measure) {
    Builder builder(measure);
    for (const SummaryRow& row : rows) builder.add(row);
    return builder.finish();
}

}  // namespace tessal::display
