#pragma once
// Renderings of the summary rows for hosts without a window: plain text
// lines laid out by the rows' indentation, and JSON for programs.
#include <string>
#include <vector>

#include "display/summary_rows.h"

namespace tessal::display {

// One or more UTF-8 lines per row, each ending with "\n"; a row's indentation
// of x dialog units becomes x / 2 spaces.
std::string summaryText(const std::vector<SummaryRow>& rows);

// One line: an array with an object per row; texts stay UTF-8.
std::string summaryJson(const std::vector<SummaryRow>& rows);

}  // namespace tessal::display
