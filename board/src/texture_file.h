// 3DF texture files and the texel formats they hold.
//
// A 3DF file starts with four text lines, each ended by a line feed (a carriage return before
// it is allowed):
//     3df v1.1
//     <format name>                 i8, a8, ai44, rgb332, p8, rgb565, argb1555, argb4444,
//                                   ai88, argb8332, ap88
//     lod range: <small> <large>    sizes of the smallest and largest level: 1, 2, ... 256
//     aspect ratio: <w> <h>         1 1, 2 1, 4 1, 8 1, 1 2, 1 4 or 1 8 (width term first)
// For the palette formats (p8, ap88) the palette follows: 256 entries of 4 bytes, big-endian
// 0xAARRGGBB. Then every mipmap level from the largest to the smallest, row after row: 8-bit
// texels as bytes, 16-bit texels big-endian. Bytes after the smallest level are ignored.
#pragma once

#include "glide.h"
#include "platform/result.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace board {

// What the board knows of a texel format.
struct TexelFormat {
    GrTextureFormat_t format;
    const char* name; // the name in a 3DF header
    int bytes;        // 1 or 2 bytes a texel
    bool palette;     // the texels index a 256-entry palette
};

// The format of the given 3DF name (case-insensitive), or nullptr when the board cannot
// decode it.
[[nodiscard]] const TexelFormat* format_by_name(std::string_view name);
// The format of the given code, or nullptr when the board cannot decode it.
[[nodiscard]] const TexelFormat* format_by_code(GrTextureFormat_t format);

// Width and height of a level: the long side is 256 >> lod, the short side follows the
// aspect ratio and is at least 1. Both false/zero for codes out of range.
struct Extent {
    uint32_t width{0};
    uint32_t height{0};
};
[[nodiscard]] bool valid_lod(GrLOD_t lod);
[[nodiscard]] bool valid_aspect(GrAspectRatio_t aspect);
[[nodiscard]] Extent level_extent(GrLOD_t lod, GrAspectRatio_t aspect);

// Bytes of all levels from large_lod down to small_lod; 0 for an invalid description.
[[nodiscard]] uint32_t texture_bytes(GrTextureFormat_t format, GrLOD_t small_lod, GrLOD_t large_lod,
                                     GrAspectRatio_t aspect);

// A 3DF file in memory. `texels` holds every level as the board's download takes them:
// 8-bit texels as bytes, 16-bit texels as native 16-bit numbers.
struct Texture3df {
    Gu3dfHeader header{};
    std::array<uint32_t, 256> palette{}; // 0xAARRGGBB, for p8 and ap88
    std::vector<uint8_t> texels;
};

// The header of a 3DF file, the offset of the first byte after it (palette or texels) and
// the number of texel bytes.
struct Header3df {
    Gu3dfHeader header{};
    size_t data_offset{0};
    uint32_t texel_bytes{0};
};

// Parses the four header lines; never reads past the end of `bytes`. An error with the reason
// for a damaged header or a format the board cannot decode.
platform::Result<Header3df> parse_3df_header(std::span<const uint8_t> bytes);

// Parses a whole 3DF file: header, palette and every level. Refuses a file that ends early.
platform::Result<Texture3df> parse_3df(std::span<const uint8_t> bytes);

// The bytes of a 3DF file for the texture (the inverse of parse_3df).
[[nodiscard]] std::vector<uint8_t> serialize_3df(const Texture3df& texture);

// Decodes `count` texels of the format (in the download layout) into 0xAARRGGBB. The palette
// is used by p8 and ap88; the NCC table by the YIQ formats. False for a format the board
// cannot decode or a missing table.
bool decode_texels(GrTextureFormat_t format, const void* src, size_t count, const GuTexTable* table,
                   uint32_t* out);

// Encodes 0xAARRGGBB texels into the format (the download layout), for the tools. Palette
// formats take the nearest palette entry. False for a format that cannot be encoded.
bool encode_texels(GrTextureFormat_t format, const uint32_t* argb, size_t count,
                   const std::array<uint32_t, 256>& palette, uint8_t* out);

} // namespace board
