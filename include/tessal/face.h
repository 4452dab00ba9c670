#pragma once
// The control's face: a mirrored pattern of cells drawn from the first bits
// of the last signature value, in green when the run held and in red when it
// did not. Given as filled rectangles so that any toolkit can draw it.
#include <cstdint>
#include <vector>

namespace tessal {

// A rectangle in pixels: left and top inclusive, right and bottom the edges
// as passed to a rectangle call without an outline (see paintedArea).
struct FaceRectangle {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    bool operator==(const FaceRectangle&) const = default;
};

struct ControlFace {
    std::uint32_t oleColour = 0;  // 0x00BBGGRR
    std::vector<FaceRectangle> rectangles;
};

}  // namespace tessal
