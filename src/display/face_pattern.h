#pragma once
// The control's face computed without any toolkit: which cells of a 64 × 10
// grid are filled, from the first 160 bits of the signature value, mirrored
// left to right and top to bottom.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tessal/face.h"
#include "xades/signature_info.h"

namespace tessal::display {

inline constexpr std::uint32_t kFaceColour = 0x669966;       // the signature held
inline constexpr std::uint32_t kFaceErrorColour = 0x666699;  // the run recorded an error

// The face of `signature` within `bounds` (left, top, right, bottom).
ControlFace facePattern(std::span<const std::uint8_t> signature, bool hasError, const FaceRectangle& bounds);

// The face of the last run; nothing when it has no signature value.
std::optional<ControlFace> faceOf(const xml::SignatureInfo& info, const FaceRectangle& bounds);

// The pixels a rectangle call without an outline fills for `rectangle`: the
// right and bottom edges and the last column and row inside them are left
// out, so the half-open area [left, right − 1) × [top, bottom − 1). The face
// adds 1 to those edges so that neighbouring cells meet without a gap.
FaceRectangle paintedArea(const FaceRectangle& rectangle);

// The painted areas of the face's rectangles, the pixels a host fills,
// without the empty ones a box too small for the grid gives.
std::vector<FaceRectangle> filledAreas(const ControlFace& face);

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

// An OLE colour 0x00BBGGRR as its three components.
Rgb rgbOf(std::uint32_t oleColour);

}  // namespace tessal::display
