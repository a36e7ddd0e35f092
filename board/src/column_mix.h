// The last step of bilinear filtering along a span of constant t: each pixel mixes two
// neighbouring texel columns that are already mixed vertically. Kernels for SSE2 (every
// x86-64) and AVX2 (chosen at run time when the CPU reports it), and plain C++ elsewhere;
// all give the same pixels. Internal to the board.
#pragma once

#include <cstdint>

namespace board::detail {

// Bilinear blending in two exact integer steps (no rounding between them, so the result is
// the four texels weighted by (256 - fx)(256 - fy), fx(256 - fy), (256 - fx)fy and fx fy,
// rounded half up). Colour channels ride in 16-bit lanes of a 64-bit word: 0x00RR00GG00BB
// (TextureLevel::lanes).
// One step: c0 (256 - f) + c1 f in each lane (at most 65280).
inline uint64_t mix_row(uint64_t c0, uint64_t c1, uint32_t f) {
    return c0 * (256 - f) + c1 * f;
}
// The second step into a colour 0x00RRGGBB; R and B in 32-bit lanes, G apart.
inline uint32_t mix_rows(uint64_t c0, uint64_t c1, uint32_t f) {
    constexpr uint64_t k_rb = 0x0000FFFF0000FFFFull;
    uint64_t rb = (c0 & k_rb) * (256 - f) + (c1 & k_rb) * f + 0x0000800000008000ull;
    uint32_t g =
        uint32_t(c0 >> 16 & 0xFFFF) * (256 - f) + uint32_t(c1 >> 16 & 0xFFFF) * f + 0x8000u;
    return uint32_t(rb >> 48 & 0xFF) << 16 | (g >> 16 & 0xFF) << 8 | uint32_t(rb >> 16 & 0xFF);
}

// out[k] = mix_row(top[k], bottom[k], f) for k < count: two texel rows (lanes of at most 255)
// mixed into columns. SSE2 where there is SSE2.
void mix_texel_rows(uint64_t* out, const uint64_t* top, const uint64_t* bottom, int64_t count,
                    uint32_t f);

// Pixel i of a span of constant t: u = (s + i ds) >> shift is its place in 256ths of a column
// (the caller has added the rounding half and taken half a texel away, and made u at least 0
// all along), u >> 8 the left column of its pair and u & 255 its weight:
//   dst[i] = mix_rows(columns[u >> 8], columns[(u >> 8) + 1], u & 255) | alpha.
using ColumnMix = void (*)(uint32_t* dst, int count, const uint64_t* columns, int64_t s, int64_t ds,
                           int shift, uint32_t alpha);

enum class MixKernel { Plain, Sse2, Avx2 };
// The kernel asked for, or nullptr when this build or CPU lacks it.
[[nodiscard]] ColumnMix column_mix(MixKernel kernel);
// The fastest kernel the CPU runs.
[[nodiscard]] ColumnMix best_column_mix();

} // namespace board::detail
