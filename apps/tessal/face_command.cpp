#include "face_command.h"

#include <iostream>
#include <memory>
#include <optional>

#include "cli_host.h"
#include "command_arguments.h"
#include "display/face_pattern.h"
#include "document_verdict.h"
#include "file_input.h"
#include "platform/file_system.h"
#include "png_image.h"
#include "tessal/sign.h"

namespace tessal::cli {

namespace {

const char* const kFaceHelp =
    "usage: tessal face [--size WxH] FILE -o OUT.png\n"
    "\n"
    "Verifies the signature of FILE (as 'tessal verify' does) and saves the\n"
    "control's face for it as a PNG image of W x H pixels (default 256x40, each\n"
    "1 to 2048): the first 160 bits of the signature value as a mirrored grid of\n"
    "cells on white, green when the signature holds and red when it does not.\n"
    "When it does not hold, the defects go to standard error.\n"
    "\n"
    "Exit status: 0 when the image was written, 1 when FILE holds no signature\n"
    "value (no image is written) or cannot be read or OUT cannot be written, 2 for\n"
    "a usage error.\n";

constexpr std::uint32_t kMaxSide = 2048;

// One side of "WxH": 1 to kMaxSide in decimal digits.
std::optional<std::uint32_t> parseSide(const std::string& text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value < 1 || value > kMaxSide) return std::nullopt;
    return value;
}

struct Size {
    std::uint32_t width = 256;
    std::uint32_t height = 40;
};

std::optional<Size> parseSize(const std::string& text) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos) return std::nullopt;
    const std::optional<std::uint32_t> width = parseSide(text.substr(0, x));
    const std::optional<std::uint32_t> height = parseSide(text.substr(x + 1));
    if (!width || !height) return std::nullopt;
    return Size{*width, *height};
}

}  // namespace

int runFace(const std::vector<std::string>& args) {
    std::optional<std::string> file, out;
    Size size;
    CommandArguments a("face", args);
    while (a.next()) {
        if (a.isHelp()) {
            std::cout << kFaceHelp;
            return 0;
        }
        if (a.is("-o") || a.is("--out")) {
            if (!(out = a.value())) return a.usage("-o needs a file");
        } else if (a.is("--size")) {
            const std::optional<std::string> text = a.value();
            if (!text) return a.usage("--size needs WxH");
            const std::optional<Size> parsed = parseSize(*text);
            if (!parsed) return a.usage("--size takes WxH, each from 1 to " + std::to_string(kMaxSide));
            size = *parsed;
        } else if (a.isOption()) {
            return a.usage("unknown option '" + a.current() + "'");
        } else if (file) {
            return a.usage("only one FILE is taken");
        } else {
            file = a.current();
        }
    }
    if (!file) return a.usage("FILE is missing");
    if (!out) return a.usage("-o OUT.png is missing");

    std::optional<std::vector<std::uint8_t>> bytes = readFileOctets(*file);
    if (!bytes) {
        std::cerr << "tessal face: cannot read '" << *file << "'\n";
        return 1;
    }
    Sign sign(std::make_shared<CliHostSite>());
    const DocumentVerdict verdict = verifyDocument(sign, std::move(*bytes));
    const FaceRectangle bounds{0, 0, static_cast<std::int32_t>(size.width), static_cast<std::int32_t>(size.height)};
    const std::optional<ControlFace> face = sign.face(bounds);
    if (!face) {
        std::cerr << "tessal face: '" << *file << "' holds no signature value; no image written\n";
        if (!verdict.holds) std::cerr << verdict.defects << "\n";
        return 1;
    }
    if (!verdict.holds) std::cerr << verdict.defects << "\n";

    RgbImage image(size.width, size.height);
    const display::Rgb colour = display::rgbOf(face->oleColour);
    for (const FaceRectangle& area : display::filledAreas(*face)) {
        image.fill(area.left, area.top, area.right, area.bottom, colour.red, colour.green, colour.blue);
    }
    const std::optional<std::vector<std::uint8_t>> png = encodePng(image);
    if (!png || !platform::writeFileAtomically(*out, png->data(), png->size())) {
        std::cerr << "tessal face: cannot write '" << *out << "'\n";
        return 1;
    }
    return 0;
}

}  // namespace tessal::cli
