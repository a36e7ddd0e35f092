// Texture sampling: one mipmap level of a texture read at s, t, the nearest texel or four
// texels weighted (bilinear), with each axis wrapped or clamped. The rasteriser builds one
// sampler per primitive and calls it for every pixel, so everything here is inline.
//
// s and t come in 2^-32 units of the 256 level (see rasterizer.h); a texel of level n covers
// 2^n of its units.
#pragma once

#include "glide.h"
#include "texture_memory.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace board {

// Samples one level: s, t in 2^-32 units of the 256 level, `shift` = 24 + lod.
struct Sampler {
    const TextureLevel* level{nullptr};
    int shift{24};
    bool bilinear{false};
    bool wrap_s{true};
    bool wrap_t{true};

    [[nodiscard]] uint32_t operator()(int64_t s, int64_t t) const {
        return bilinear ? filtered(s, t) : nearest(s, t);
    }

    // 1/256 texel of this level, rounded.
    [[nodiscard]] int64_t level_units(int64_t v) const {
        return (v + (int64_t(1) << (shift - 1))) >> shift;
    }

    [[nodiscard]] uint32_t nearest(int64_t s, int64_t t) const {
        int64_t x = address(s >> (shift + 8), level->width, wrap_s); // the texel holding s
        int64_t y = address(t >> (shift + 8), level->height, wrap_t);
        return level->texels[size_t((y << level->width_shift) + x)];
    }

    [[nodiscard]] uint32_t filtered(int64_t s, int64_t t) const {
        int64_t su = level_units(s) - 128; // the centre of texel i lies at i + 0.5
        int64_t tu = level_units(t) - 128;
        uint32_t fx = uint32_t(su & 255), fy = uint32_t(tu & 255);
        int64_t x0 = address(su >> 8, level->width, wrap_s);
        int64_t x1 = address((su >> 8) + 1, level->width, wrap_s);
        int64_t y0 = address(tu >> 8, level->height, wrap_t) << level->width_shift;
        int64_t y1 = address((tu >> 8) + 1, level->height, wrap_t) << level->width_shift;
        const uint32_t* texels = level->texels.data();
        uint64_t rb = 0x0000800000008000ull, ag = 0x0000800000008000ull; // rounding
        accumulate(rb, ag, texels[y0 + x0], (256 - fx) * (256 - fy));
        accumulate(rb, ag, texels[y0 + x1], fx * (256 - fy));
        accumulate(rb, ag, texels[y1 + x0], (256 - fx) * fy);
        accumulate(rb, ag, texels[y1 + x1], fx * fy);
        return (uint32_t(ag >> 48) & 0xFF) << 24 | (uint32_t(rb >> 48) & 0xFF) << 16 |
               (uint32_t(ag >> 16) & 0xFF) << 8 | (uint32_t(rb >> 16) & 0xFF);
    }

    // Adds a texel times a weight to two accumulators holding R,B and A,G in 32-bit lanes.
    static void accumulate(uint64_t& rb, uint64_t& ag, uint32_t c, uint32_t w) {
        rb += ((uint64_t(c & 0x00FF0000u) << 16) | (c & 0xFFu)) * w;
        ag += ((uint64_t(c & 0xFF000000u) << 8) | ((c >> 8) & 0xFFu)) * w;
    }

    static int64_t address(int64_t x, uint32_t size, bool wrap) {
        return wrap ? (x & int64_t(size - 1)) : std::clamp<int64_t>(x, 0, int64_t(size) - 1);
    }
};

inline Sampler make_sampler(const Texture& texture, GrLOD_t lod, bool bilinear) {
    lod = std::clamp(lod, texture.large_lod, texture.small_lod);
    return {&texture.level(lod), 24 + lod, bilinear, texture.s_clamp != GR_TEXTURECLAMP_CLAMP,
            texture.t_clamp != GR_TEXTURECLAMP_CLAMP};
}

} // namespace board
