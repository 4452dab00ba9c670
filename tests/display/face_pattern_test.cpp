#include "display/face_pattern.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace tessal::display {
namespace {

// The grid cells (column 0..63, row 0..9) a face fills, from its rectangles
// at a size where every cell is 4 × 4 pixels.
std::set<std::pair<int, int>> filledCells(const ControlFace& face) {
    std::set<std::pair<int, int>> cells;
    for (const FaceRectangle& rectangle : face.rectangles) {
        const FaceRectangle area = paintedArea(rectangle);
        EXPECT_EQ(area.right - area.left, 4);
        EXPECT_EQ(area.bottom - area.top, 4);
        cells.insert({area.left / 4, area.top / 4});
    }
    return cells;
}

TEST(FacePattern, OneBitFillsItsCellAndItsThreeMirrors) {
    // Bit 7 of byte 0 is bit 7 of the value: column 1, row 2 (7 = 5 · 1 + 2).
    const std::vector<std::uint8_t> signature = {0x80};
    const ControlFace face = facePattern(signature, false, {10, 20, 10 + 200, 20 + 57});
    // 200 / 32 / 2 = 3 wide, 57 / 5 / 2 = 5 high; the grid ends at 10 + 192 and 20 + 50.
    const std::vector<FaceRectangle> expected = {
        {13, 30, 17, 36},    // column 1, row 2
        {10 + 192 - 6, 30, 10 + 192 - 3 + 1, 36},  // mirrored left to right
        {13, 70 - 15, 17, 70 - 10 + 1},            // mirrored top to bottom
        {196, 55, 200, 61},                        // both
    };
    EXPECT_EQ(face.rectangles, expected);
    EXPECT_EQ(face.oleColour, 0x669966u);
    EXPECT_EQ(rgbOf(face.oleColour), (Rgb{0x66, 0x99, 0x66}));
}

TEST(FacePattern, ShowsTheFirst160BitsMirroredAndNothingBeyondTheValue) {
    // Ten bytes of ones: bits 0..79, i.e. columns 0..15 of every row, and
    // their mirrors at columns 48..63. The middle stays empty.
    const std::vector<std::uint8_t> shortValue(10, 0xFF);
    const std::set<std::pair<int, int>> cells = filledCells(facePattern(shortValue, false, {0, 0, 256, 40}));
    std::set<std::pair<int, int>> expected;
    for (int c = 0; c < 16; ++c) {
        for (int r = 0; r < 10; ++r) {
            expected.insert({c, r});
            expected.insert({63 - c, r});
        }
    }
    EXPECT_EQ(cells, expected);

    // A long value still fills only the 64 × 10 grid.
    const std::vector<std::uint8_t> longValue(256, 0xFF);
    EXPECT_EQ(filledCells(facePattern(longValue, false, {0, 0, 256, 40})).size(), 640u);
}

TEST(FacePattern, ColourAndPresenceFollowTheRun) {
    xml::SignatureInfo info;
    const FaceRectangle bounds{0, 0, 256, 40};
    EXPECT_FALSE(faceOf(info, bounds).has_value());  // no signature value: nothing drawn

    info.signatureBytes = {0x01, 0x00, 0x10};
    ASSERT_TRUE(faceOf(info, bounds).has_value());
    EXPECT_EQ(faceOf(info, bounds)->oleColour, 0x669966u);

    info.error.code = 70401001;
    const std::optional<ControlFace> failed = faceOf(info, bounds);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->oleColour, 0x666699u);
    EXPECT_EQ(rgbOf(failed->oleColour), (Rgb{0x99, 0x66, 0x66}));
    EXPECT_EQ(failed->rectangles.size(), 8u);  // two bits set, four cells each
}

TEST(FacePattern, BoundsTooSmallForTheGridPaintNothing) {
    const std::vector<std::uint8_t> signature(20, 0xFF);
    for (const FaceRectangle& rectangle : facePattern(signature, false, {5, 5, 60, 9}).rectangles) {
        const FaceRectangle area = paintedArea(rectangle);
        EXPECT_TRUE(area.right == area.left || area.bottom == area.top);
    }
}

}  // namespace
}  // namespace tessal::display
