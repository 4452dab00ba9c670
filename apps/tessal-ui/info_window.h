#pragma once
// The signature-information window: the layout's items drawn at their
// places, the viewer buttons opening the certificates and CRLs they name,
// closed by its close button, the window's close or Escape.
#include <cstdint>
#include <map>
#include <vector>

#include "display/window_layout.h"

namespace tessal::ui {

// Dialog units to pixels for the window's font: horizontal units are a
// quarter of the average character width, vertical units an eighth of the
// character cell height.
struct DialogUnits {
    int baseX = 6;
    int baseY = 13;
    int x(int units) const;
    int y(int units) const;
};

// Shows the window modally and returns when it is closed.
void runInfoWindow(const std::vector<display::SummaryRow>& rows,
                   const std::map<int, std::vector<std::uint8_t>>& objects);

}  // namespace tessal::ui
