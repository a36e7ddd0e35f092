// Pictures with alpha and their conversion to and from 3DF textures: mipmap building,
// palettes, PNG files with alpha. Used by the texture tool and the data generator.
#pragma once

#include "glide.h"
#include "texture_file.h"

#include "platform/result.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace texlib {

// 0xAARRGGBB pixels, rows top to bottom.
struct Picture {
    int width{0};
    int height{0};
    std::vector<uint32_t> argb;

    Picture() = default;
    Picture(int w, int h, uint32_t fill = 0xFF000000u)
        : width(w), height(h), argb(size_t(w) * size_t(h), fill) {}
    [[nodiscard]] uint32_t at(int x, int y) const { return argb[size_t(y) * width + x]; }
    uint32_t& at(int x, int y) { return argb[size_t(y) * width + x]; }
};

// The longest side of a PNG picture that read_png accepts (a texture needs at most 256).
inline constexpr uint32_t k_png_max_side = 16384;

// PNG files with alpha (any PNG libpng reads; written as 8-bit RGBA). Errors name the file.
[[nodiscard]] platform::Result<Picture> read_png(const std::string& path);
[[nodiscard]] platform::Status write_png(const std::string& path, const Picture& picture);

// The level below: each pixel the rounded average of a 2x2 block (of 2x1 or 1x2 when a side
// is already 1).
[[nodiscard]] Picture half_size(const Picture& picture);

// The levels from the picture down to a long side of 1 when `mipmaps`, else the picture alone.
[[nodiscard]] std::vector<Picture> build_levels(const Picture& largest, bool mipmaps);

// A palette for the pictures: their own colours when they have at most 256 (in order of first
// appearance, the rest opaque black), else the uniform 3-3-2 palette.
[[nodiscard]] std::array<uint32_t, 256> make_palette(const std::vector<Picture>& levels);

// Encodes the levels (largest first, each half the one before) in a format; the error says
// why the sizes are not those of a 3DF texture.
[[nodiscard]] platform::Result<board::Texture3df> encode_3df(GrTextureFormat_t format,
                                                             const std::vector<Picture>& levels);

// Every level of a texture decoded to 0xAARRGGBB.
[[nodiscard]] std::vector<Picture> decode_3df(const board::Texture3df& texture);

// Writes a 3DF file; the error names the file.
[[nodiscard]] platform::Status write_3df(const std::string& path, const board::Texture3df& texture);

} // namespace texlib
