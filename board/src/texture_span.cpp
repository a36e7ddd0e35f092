#include "texture_span.h"

#include "column_mix.h"

#include <algorithm>

namespace board::detail {

namespace {

// Texel columns a span of constant t mixes in one go (on the stack): more than a screen row.
constexpr int64_t k_span_columns = 1024;

// Pixels of constant alpha from vertically mixed columns, the first of them at texel column
// `lo`: s in the kernel's terms (see ColumnMix), counted from that column.
void mix_columns(uint32_t* dst, int count, const uint64_t* columns, int64_t s, int64_t ds,
                 int64_t lo, int shift, uint32_t alpha) {
    const int64_t offset = (int64_t(1) << (shift - 1)) - ((128 + 256 * lo) << shift);
    best_column_mix()(dst, count, columns, s + offset, ds, shift, alpha);
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
                // In straight runs of texel columns: up to the row's end when inside or
                // wrapped, one at a time where clamped.
                for (int64_t k = 0; k < columns;) {
                    const int64_t x = ax(lo + k);
                    const bool straight = WrapS || (lo + k >= 0 && lo + k < w);
                    const int64_t run = straight ? std::min(columns - k, w - x) : 1;
                    mix_texel_rows(mixed + k, r0 + x, r1 + x, run, fy);
                    k += run;
                }
                if (da == 0) {
                    mix_columns(dst, count, mixed, s, ds, lo, shift, clamp255(int(a >> 16)) << 24);
                    return;
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
