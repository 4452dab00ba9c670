#pragma once
// The signature-information window as a list of items placed in dialog
// units: the rows of the summary turned into texts, buttons, separators,
// marks and icons, with line counts from measured text widths and the
// window's height grown row by row. Computed without any toolkit; whoever
// draws the window only draws these items.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "display/summary_rows.h"

namespace tessal::display {

// Measures how wide a text is drawn in the window's font, in dialog units.
class TextMeasurer {
public:
    virtual ~TextMeasurer() = default;
    // The width of `text`; nothing when it cannot be measured (the layout
    // then counts 2 units per character).
    virtual std::optional<int> width(std::u16string_view text) const = 0;
};

enum class ItemKind { Text, Button, Separator, GoodMark, BadMark, WarningIcon };

struct WindowItem {
    ItemKind kind = ItemKind::Text;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // Buttons: 1 closes the window; the viewer targets of summary_rows.h
    // open an object. Every other item carries 200.
    int id = 200;
    std::u16string text;  // empty for separators, marks and icons

    bool operator==(const WindowItem&) const = default;
};

struct WindowLayout {
    std::u16string title;  // "Skaitmeninio parašo informacija"
    int width = 300;       // dialog units
    int height = 0;        // grown by the rows
    std::vector<WindowItem> items;
};

// Lays out `rows` (summaryRows) for `measure`'s font.
WindowLayout layoutWindow(const std::vector<SummaryRow>& rows, const TextMeasurer& measure);

// The number of lines `text` takes in an item of `availableWidth` units.
int lineCount(std::u16string_view text, int availableWidth, const TextMeasurer& measure);

}  // namespace tessal::display
