#pragma once
// Text widths for the window layout, measured with Pango in the font the
// layout is computed for: Liberation Sans with a cell height of 8 pixels.
#include <pango/pango.h>

#include "display/window_layout.h"

namespace tessal::ui {

class PangoMeasurer : public display::TextMeasurer {
public:
    explicit PangoMeasurer(PangoContext* context);
    ~PangoMeasurer() override;
    PangoMeasurer(const PangoMeasurer&) = delete;
    PangoMeasurer& operator=(const PangoMeasurer&) = delete;

    std::optional<int> width(std::u16string_view text) const override;

private:
    PangoLayout* layout_ = nullptr;
};

}  // namespace tessal::ui
