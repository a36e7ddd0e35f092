// A picture in memory: 32-bit pixels 0x00RRGGBB, rows top to bottom.
#pragma once

#include "platform/result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct Image {
    int width{0};
    int height{0};
    std::vector<uint32_t> pixels;

    Image() = default;
    Image(int w, int h, uint32_t fill = 0) : width(w), height(h), pixels(size_t(w) * h, fill) {}

    [[nodiscard]] bool empty() const { return width <= 0 || height <= 0; }
    [[nodiscard]] uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
    uint32_t& at(int x, int y) { return pixels[size_t(y) * width + x]; }
};

// Writes the image as an 8-bit RGB PNG; the error names the file.
[[nodiscard]] Status write_png(const std::string& path, const Image& image);

// Reads an 8-bit RGB or RGBA PNG (any colour type libpng can expand); empty image on failure.
Image read_png(const std::string& path);

} // namespace platform
