#include "png_image.h"

#include <zlib.h>

#include <algorithm>
#include <string_view>

namespace tessal::cli {

namespace {

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Length, type, data and the CRC over type and data.
void putChunk(std::vector<std::uint8_t>& out, std::string_view type, const std::vector<std::uint8_t>& data) {
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
    putBigEndian(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

RgbImage::RgbImage(std::uint32_t width, std::uint32_t height)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height * 3, 0xFF) {}

void RgbImage::fill(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom, std::uint8_t red,
                    std::uint8_t green, std::uint8_t blue) {
    const std::int64_t x0 = std::max<std::int64_t>(left, 0);
    const std::int64_t y0 = std::max<std::int64_t>(top, 0);
    const std::int64_t x1 = std::min<std::int64_t>(right, width_);
    const std::int64_t y1 = std::min<std::int64_t>(bottom, height_);
    for (std::int64_t y = y0; y < y1; ++y) {
        for (std::int64_t x = x0; x < x1; ++x) {
            std::uint8_t* pixel = &pixels_[(static_cast<std::size_t>(y) * width_ + static_cast<std::size_t>(x)) * 3];
            pixel[0] = red;
            pixel[1] = green;
            pixel[2] = blue;
        }
    }
}

std::optional<std::vector<std::uint8_t>> encodePng(const RgbImage& image) {
    // Each row starts with its filter type (0, none).
    const std::size_t rowBytes = static_cast<std::size_t>(image.width()) * 3;
    std::vector<std::uint8_t> raw;
    raw.reserve((rowBytes + 1) * image.height());
    for (std::uint32_t y = 0; y < image.height(); ++y) {
        raw.push_back(0);
        const auto row = image.pixels().begin() + static_cast<std::ptrdiff_t>(y * rowBytes);
        raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK) {
        return std::nullopt;
    }
    packed.resize(packedSize);

    std::vector<std::uint8_t> header;
    putBigEndian(header, image.width());
    putBigEndian(header, image.height());
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, no interlace

    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", packed);
    putChunk(png, "IEND", {});
    return png;
}

}  // namespace tessal::cli
