#include "texture_span.h"

#include <algorithm>

namespace board::detail {

namespace {

// Texel columns a span of constant t mixes in one go (on the stack): more than a screen row.
constexpr int64_t k_span_columns = 1024;

// Bilinear blending in two exact integer steps (no rounding between them, so the result is
// the four texels weighted by (256 - fx)(256 - fy), fx(256 - fy), (256 - fx)fy and fx fy,
// rounded half up). Colour channels ride in 16-bit lanes of a 64-bit word: 0x00RR00GG00BB
// (TextureLevel::lanes).
// One row: c0 (256 - fx) + c1 fx in each lane (at most 65280).
inline uint64_t mix_row(uint64_t c0, uint64_t c1, uint32_t fx) {
    return c0 * (256 - fx) + c1 * fx;
}
// Two rows into a colour 0x00RRGGBB; R and B in 32-bit lanes, G apart.
inline uint32_t mix_rows(uint64_t top, uint64_t bottom, uint32_t fy) {
    constexpr uint64_t k_rb = 0x0000FFFF0000FFFFull;
    uint64_t rb = (top & k_rb) * (256 - fy) + (bottom & k_rb) * fy + 0x0000800000008000ull;
    uint32_t g =
        uint32_t(top >> 16 & 0xFFFF) * (256 - fy) + uint32_t(bottom >> 16 & 0xFFFF) * fy + 0x8000u;
    return uint32_t(rb >> 48 & 0xFF) << 16 | (g >> 16 & 0xFF) << 8 | uint32_t(rb >> 16 & 0xFF);
}

// The fast span: the texel is the colour, alpha comes from the vertices, written unblended.
// Everything the loop reads is copied into locals first, so the stores cannot alias it.
template <bool Bilinear, bool WrapS, bool WrapT>
void texture_span(uint32_t* dst, int count, const Sampler& sampler, int64_t s, int64_t ds,
                  int64_t t, int64_t dt, int64_t a, int64_t da) {
    const uint32_t* texels = sampler.level->texels.data();
    const uint64_t* lanes = sampler.level->lanes.data();
    const int64_t w = sampler.level->width, h = sampler.level->height;
    const int wshift = sampler.level->width_shift;
    const int shift = sampler.shift;
    const int64_t half = int64_t(1) << (shift - 1);
    auto ax = [w](int64_t x) {
        if constexpr (WrapS)
            return x & (w - 1);
        else
            return x < 0 ? 0 : x >= w ? w - 1 : x;
    };
    auto ay = [h](int64_t y) {
        if constexpr (WrapT)
            return y & (h - 1);
        else
            return y < 0 ? 0 : y >= h ? h - 1 : y;
    };
    if constexpr (Bilinear) {
        if (dt == 0) {
            // t is the same along the span: two texel rows and one fy. Each texel column the
            // span reaches is mixed vertically once, then every pixel mixes two neighbouring
            // columns (the sum is the same exact integer in either order).
            const int64_t tu = ((t + half) >> shift) - 128;
            const uint64_t* r0 = lanes + (ay(tu >> 8) << wshift);
            const uint64_t* r1 = lanes + (ay((tu >> 8) + 1) << wshift);
            const uint32_t fy = uint32_t(tu & 255);
            const int64_t first = (((s + half) >> shift) - 128) >> 8;
            const int64_t last = (((s + ds * (count - 1) + half) >> shift) - 128) >> 8;
            const int64_t lo = std::min(first, last), columns = std::max(first, last) - lo + 2;
            if (columns <= k_span_columns && columns <= 2 * int64_t(count) + 2) {
                uint64_t mixed[k_span_columns];
                for (int64_t k = 0; k < columns; ++k) {
                    const int64_t x = ax(lo + k);
                    mixed[k] = mix_row(r0[x], r1[x], fy);
                }
                for (int i = 0; i < count; ++i) {
                    const int64_t su = ((s + half) >> shift) - 128;
                    const uint64_t* pair = mixed + ((su >> 8) - lo);
                    dst[i] = mix_rows(pair[0], pair[1], uint32_t(su & 255)) | clamp255(int(a >> 16))
                                                                                  << 24;
                    s += ds;
                    a += da;
                }
                return;
            }
        }
    }
    for (int i = 0; i < count; ++i) {
        uint32_t texel;
        if constexpr (Bilinear) {
            int64_t su = ((s + half) >> shift) - 128, tu = ((t + half) >> shift) - 128;
            int64_t x0 = ax(su >> 8), x1 = ax((su >> 8) + 1);
            const uint64_t* r0 = lanes + (ay(tu >> 8) << wshift);
            const uint64_t* r1 = lanes + (ay((tu >> 8) + 1) << wshift);
            uint32_t fx = uint32_t(su & 255);
            texel = mix_rows(mix_row(r0[x0], r0[x1], fx), mix_row(r1[x0], r1[x1], fx),
                             uint32_t(tu & 255));
        } else {
            texel = texels[(ay(t >> (shift + 8)) << wshift) + ax(s >> (shift + 8))];
        }
        dst[i] = (texel & 0x00FFFFFFu) | clamp255(int(a >> 16)) << 24;
        s += ds;
        t += dt;
        a += da;
    }
}

} // namespace

SpanFunction pick_texture_span(const Sampler& s) {
    static constexpr SpanFunction k_spans[8] = {
        texture_span<false, false, false>, texture_span<false, false, true>,
        texture_span<false, true, false>,  texture_span<false, true, true>,
        texture_span<true, false, false>,  texture_span<true, false, true>,
        texture_span<true, true, false>,   texture_span<true, true, true>,
    };
    return k_spans[(s.bilinear ? 4 : 0) + (s.wrap_s ? 2 : 0) + (s.wrap_t ? 1 : 0)];
}

} // namespace board::detail
