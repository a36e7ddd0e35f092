#include "texlib.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <bit>
#include <cstdio>
#include <cstring>
#include <map>

namespace texlib {

platform::Result<Picture> read_png(const std::string& path) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return platform::fail(path + ": not a PNG picture (" + img.message + ")");
    // The header's size is the file's word: refuse what no texture needs before allocating.
    if (img.width > k_png_max_side || img.height > k_png_max_side) {
        png_image_free(&img);
        return platform::fail(path + ": " + std::to_string(img.width) + " x " +
                              std::to_string(img.height) + " pixels, more than " +
                              std::to_string(k_png_max_side) + " a side");
    }
    img.format = PNG_FORMAT_BGRA; // little-endian 0xAARRGGBB words
    Picture out(int(img.width), int(img.height));
    if (!png_image_finish_read(&img, nullptr, out.argb.data(), 0, nullptr)) {
        png_image_free(&img);
        return platform::fail(path + ": damaged PNG picture (" + img.message + ")");
    }
    return out;
}

platform::Status write_png(const std::string& path, const Picture& picture) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = png_uint_32(picture.width);
    img.height = png_uint_32(picture.height);
    img.format = PNG_FORMAT_BGRA;
    if (!png_image_write_to_file(&img, path.c_str(), 0, picture.argb.data(), 0, nullptr))
        return platform::fail(path + ": " + img.message);
    return {};
}

Picture half_size(const Picture& p) {
    int w = std::max(1, p.width / 2), h = std::max(1, p.height / 2);
    int sx = p.width > 1 ? 2 : 1, sy = p.height > 1 ? 2 : 1;
    Picture out(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint32_t c = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                uint32_t sum = 0;
                for (int j = 0; j < sy; ++j)
                    for (int i = 0; i < sx; ++i)
                        sum += (p.at(x * sx + i, y * sy + j) >> shift) & 0xFF;
                uint32_t n = uint32_t(sx * sy);
                c |= ((sum + n / 2) / n) << shift;
            }
            out.at(x, y) = c;
        }
    }
    return out;
}

std::vector<Picture> build_levels(const Picture& largest, bool mipmaps) {
    std::vector<Picture> levels{largest};
    while (mipmaps && (levels.back().width > 1 || levels.back().height > 1))
        levels.push_back(half_size(levels.back()));
    return levels;
}

std::array<uint32_t, 256> make_palette(const std::vector<Picture>& levels) {
    std::array<uint32_t, 256> palette;
    palette.fill(0xFF000000u);
    std::map<uint32_t, int> seen;
    for (const Picture& level : levels) {
        for (uint32_t c : level.argb) {
            if (seen.size() > 256)
                break;
            if (seen.emplace(c, int(seen.size())).second && seen.size() <= 256)
                palette[seen.size() - 1] = c;
        }
    }
    if (seen.size() <= 256)
        return palette;
    for (uint32_t i = 0; i < 256; ++i) { // the uniform 3-3-2 palette
        uint32_t r = (i >> 5) * 255 / 7, g = ((i >> 2) & 7) * 255 / 7, b = (i & 3) * 255 / 3;
        palette[i] = 0xFF000000u | r << 16 | g << 8 | b;
    }
    return palette;
}

namespace {

// The aspect code of a largest level, or -1.
int aspect_of(int w, int h) {
    for (int aspect = GR_ASPECT_8x1; aspect <= GR_ASPECT_1x8; ++aspect) {
        board::Extent e = board::level_extent(GR_LOD_256, aspect);
        if (uint64_t(e.width) * uint32_t(h) == uint64_t(e.height) * uint32_t(w))
            return aspect;
    }
    return -1;
}

} // namespace

platform::Result<board::Texture3df> encode_3df(GrTextureFormat_t format,
                                               const std::vector<Picture>& levels) {
    using platform::fail;
    const board::TexelFormat* f = board::format_by_code(format);
    if (!f || format == GR_TEXFMT_YIQ_422 || format == GR_TEXFMT_AYIQ_8422)
        return fail("format cannot be written to a 3DF file");
    if (levels.empty())
        return fail("no picture");
    int w = levels[0].width, h = levels[0].height;
    int longest = std::max(w, h);
    if (w <= 0 || h <= 0 || longest > 256 || !std::has_single_bit(unsigned(w)) ||
        !std::has_single_bit(unsigned(h)))
        return fail("sides must be powers of two up to 256");
    int aspect = aspect_of(w, h);
    if (aspect < 0)
        return fail("sides may differ by a factor of 8 at most");
    board::Texture3df out;
    GrLOD_t large = std::countr_zero(256u / unsigned(longest));
    GrLOD_t small = large + GrLOD_t(levels.size()) - 1;
    if (small > GR_LOD_1)
        return fail("too many levels");
    board::Extent e = board::level_extent(large, aspect);
    out.header = {e.width, e.height, small, large, aspect, format};
    if (f->palette)
        out.palette = make_palette(levels);
    for (GrLOD_t lod = large; lod <= small; ++lod) {
        const Picture& level = levels[size_t(lod - large)];
        board::Extent le = board::level_extent(lod, aspect);
        if (uint32_t(level.width) != le.width || uint32_t(level.height) != le.height)
            return fail("each level must be half the size of the one before");
        size_t at = out.texels.size();
        out.texels.resize(at + level.argb.size() * size_t(f->bytes));
        board::encode_texels(format, level.argb.data(), level.argb.size(), out.palette,
                             out.texels.data() + at);
    }
    return out;
}

std::vector<Picture> decode_3df(const board::Texture3df& texture) {
    std::vector<Picture> levels;
    const auto& h = texture.header;
    const board::TexelFormat* f = board::format_by_code(h.format);
    GuTexTable table{};
    std::memcpy(table.palette.data, texture.palette.data(), sizeof table.palette.data);
    size_t at = 0;
    for (GrLOD_t lod = h.large_lod; lod <= h.small_lod; ++lod) {
        board::Extent e = board::level_extent(lod, h.aspect_ratio);
        Picture level(int(e.width), int(e.height));
        size_t bytes = level.argb.size() * size_t(f->bytes);
        if (at + bytes > texture.texels.size())
            break;
        board::decode_texels(h.format, texture.texels.data() + at, level.argb.size(), &table,
                             level.argb.data());
        at += bytes;
        levels.push_back(std::move(level));
    }
    return levels;
}

platform::Status write_3df(const std::string& path, const board::Texture3df& texture) {
    std::vector<uint8_t> bytes = board::serialize_3df(texture);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return platform::fail(path + ": " + std::strerror(errno));
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        return platform::fail(path + ": cannot write");
    return {};
}

} // namespace texlib
