#include "pango_measurer.h"

#include "diagnostics/utf8_text.h"

namespace tessal::ui {

PangoMeasurer::PangoMeasurer(PangoContext* context) {
    if (!context) return;
    layout_ = pango_layout_new(context);
    PangoFontDescription* font = pango_font_description_from_string("Liberation Sans");
    pango_font_description_set_absolute_size(font, 8 * PANGO_SCALE);
    pango_layout_set_font_description(layout_, font);
    pango_font_description_free(font);
}

PangoMeasurer::~PangoMeasurer() {
    if (layout_) g_object_unref(layout_);
}

std::optional<int> PangoMeasurer::width(std::u16string_view text) const {
    if (!layout_) return std::nullopt;
    const std::string utf8 = diag::utf8Encode(text);
    pango_layout_set_text(layout_, utf8.data(), static_cast<int>(utf8.size()));
    int pixels = 0;
    pango_layout_get_pixel_size(layout_, &pixels, nullptr);
    return pixels;
}

}  // namespace tessal::ui
