#pragma once
// A true-colour image in memory and its PNG encoding, enough to save what
// the command line draws.
#include <cstdint>
#include <optional>
#include <vector>

namespace tessal::cli {

class RgbImage {
public:
    // An image of `width` × `height` pixels, all white.
    RgbImage(std::uint32_t width, std::uint32_t height);

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    // Fills [left, right) × [top, bottom), clipped to the image.
    void fill(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom, std::uint8_t red,
              std::uint8_t green, std::uint8_t blue);
    // Three bytes per pixel, rows top to bottom.
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }

private:
    std::uint32_t width_;
    std::uint32_t height_;
    std::vector<std::uint8_t> pixels_;
};

// The image as a PNG file (8-bit RGB, no interlace); nothing when the
// compressor fails.
std::optional<std::vector<std::uint8_t>> encodePng(const RgbImage& image);

}  // namespace tessal::cli
