#include "display/face_pattern.h"

#include <algorithm>

namespace tessal::display {

namespace {

constexpr int kColumns = 32;  // per half, mirrored to 64
constexpr int kRows = 5;      // per half, mirrored to 10

// Bit `index` of `bytes`, least significant bit first; 0 past the end.
bool bitAt(std::span<const std::uint8_t> bytes, std::size_t index) {
    const std::size_t byte = index / 8;
    return byte < bytes.size() && ((bytes[byte] >> (index % 8)) & 1U) != 0;
}

}  // namespace

ControlFace facePattern(std::span<const std::uint8_t> signature, bool hasError, const FaceRectangle& bounds) {
    ControlFace face;
    face.oleColour = hasError ? kFaceErrorColour : kFaceColour;
    // Division truncates toward zero: bounds narrower than the grid give
    // cells of no size. 64-bit intermediates keep extreme bounds from
    // overflowing.
    const std::int64_t left = bounds.left;
    const std::int64_t top = bounds.top;
    const std::int64_t cw = ((static_cast<std::int64_t>(bounds.right) - left) / kColumns) / 2;
    const std::int64_t ch = ((static_cast<std::int64_t>(bounds.bottom) - top) / kRows) / 2;
    const std::int64_t xr = left + 2 * kColumns * cw;
    const std::int64_t yb = top + 2 * kRows * ch;
    auto rectangle = [](std::int64_t l, std::int64_t t, std::int64_t r, std::int64_t b) {
        auto clamp = [](std::int64_t v) {
            return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
        };
        return FaceRectangle{clamp(l), clamp(t), clamp(r), clamp(b)};
    };
    for (int c = 0; c < kColumns; ++c) {
        for (int r = 0; r < kRows; ++r) {
            if (!bitAt(signature, static_cast<std::size_t>(kRows * c + r))) continue;
            face.rectangles.push_back(
                rectangle(left + c * cw, top + r * ch, left + (c + 1) * cw + 1, top + (r + 1) * ch + 1));
            face.rectangles.push_back(rectangle(xr - (c + 1) * cw, top + r * ch, xr - c * cw + 1, top + (r + 1) * ch + 1));
            face.rectangles.push_back(rectangle(left + c * cw, yb - (r + 1) * ch, left + (c + 1) * cw + 1, yb - r * ch + 1));
            face.rectangles.push_back(rectangle(xr - (c + 1) * cw, yb - (r + 1) * ch, xr - c * cw + 1, yb - r * ch + 1));
        }
    }
    return face;
}

std::optional<ControlFace> faceOf(const xml::SignatureInfo& info, const FaceRectangle& bounds) {
    if (info.signatureBytes.empty()) return std::nullopt;
    const bool hasError = info.error.lastError != 0 || info.error.code != 0;
    return facePattern(info.signatureBytes, hasError, bounds);
}

FaceRectangle paintedArea(const FaceRectangle& rectangle) {
    // Corners may come in either order; the area is the same.
    const std::int32_t left = std::min(rectangle.left, rectangle.right);
    const std::int32_t right = std::max(rectangle.left, rectangle.right);
    const std::int32_t top = std::min(rectangle.top, rectangle.bottom);
    const std::int32_t bottom = std::max(rectangle.top, rectangle.bottom);
    return FaceRectangle{left, top, right > left ? right - 1 : left, bottom > top ? bottom - 1 : top};
}

std::vector<FaceRectangle> filledAreas(const ControlFace& face) {
    std::vector<FaceRectangle> areas;
    areas.reserve(face.rectangles.size());
    for (const FaceRectangle& rectangle : face.rectangles) {
        const FaceRectangle area = paintedArea(rectangle);
        if (area.right > area.left && area.bottom > area.top) areas.push_back(area);
    }
    return areas;
}

Rgb rgbOf(std::uint32_t oleColour) {
    return Rgb{static_cast<std::uint8_t>(oleColour & 0xFF), static_cast<std::uint8_t>((oleColour >> 8) & 0xFF),
               static_cast<std::uint8_t>((oleColour >> 16) & 0xFF)};
}

}  // namespace tessal::display
