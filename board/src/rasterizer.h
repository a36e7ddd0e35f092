// The rasteriser: points, lines and triangles into a 32-bit colour buffer, through the pixel
// pipeline of the render state (texture, colour and alpha combine, alpha test, blending).
//
// Conventions (docs/board.md has the full list):
//  - Pixel (i, j) covers [i, i+1) x [j, j+1) in vertex coordinates; its centre is at
//    (i + 0.5, j + 0.5). With the lower-left origin, j counts rows from the bottom.
//  - Triangles cover the pixels whose centres lie inside; a centre exactly on an edge belongs
//    to the triangle only when the edge is a top or a left edge. Positions snap to 1/256 pixel.
//  - Points light the pixel that contains them. Lines join the pixels of their end points
//    (both drawn) with a Bresenham walk; attributes are interpolated by step.
//  - s and t are texel coordinates scaled so that the long side of the 256 level spans 256;
//    a texel of level n covers 2^n units. They are divided by the vertex oow (perspective).
#pragma once

#include "glide.h"
#include "render_state.h"
#include "simd.h"
#include "texture_memory.h"

#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace board {

struct Target {
    uint32_t* pixels{nullptr}; // 0xAARRGGBB, row 0 at the top of the screen
    int width{0};
    int height{0};
    bool lower_left{false}; // vertex y = 0 is the bottom row
    // The rows [first_row, end_row) of the buffer that drawing may change (a worker's band of
    // the screen); all of them by default.
    int first_row{0};
    int end_row{INT_MAX};
};

void draw_point(const Target& target, const RenderState& state, const Texture* texture,
                const GrVertex& v);

// How the render state treats a point: through the whole pipeline, or (the common cases) its
// vertex colour written as it is, always or when its alpha is 255.
enum class PointMode { Pipeline, Replace, OpaqueOver };
[[nodiscard]] PointMode point_mode(const RenderState& state);

// A vertex's colour as 0xAARRGGBB: each channel held to [0, 255] (NaN gives 0), then
// truncated. Without branches: the colours of neighbouring points need not agree.
[[nodiscard, gnu::always_inline]] inline uint32_t point_color(const GrVertex& v) {
#if defined(WT_HAVE_SSE2)
    // One load per channel: the caller has just stored them one by one, and a wide load
    // across those stores would wait for them to reach the cache.
    // Held to 255 first (min returns its second operand, a NaN, when either is one); then
    // truncated, and the saturating packs take what is below 0 to 0, with NaN, which
    // truncates to INT_MIN.
    const __m128 bgra = _mm_min_ps(_mm_set1_ps(255.0f), _mm_set_ps(v.a, v.r, v.g, v.b));
    const __m128i dwords = _mm_cvttps_epi32(bgra);
    const __m128i words = _mm_packs_epi32(dwords, dwords);
    return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
#else
    auto level = [](float c) {
        float f = c > 0.0f ? c : 0.0f;
        return uint32_t(f < 255.0f ? f : 255.0f);
    };
    return level(v.a) << 24 | level(v.r) << 16 | level(v.g) << 8 | level(v.b);
#endif
}

// The points of the common modes with the least work per point: what the render state and the
// buffer decided is folded, when the path is armed, into an alpha floor and a row layout.
// draw() draws a point of those modes and returns true, or returns false (drawing nothing)
// for draw_point to take it. Ignores the target's band: points are never recorded.
struct PointPath {
    uint32_t* row0{nullptr}; // the pixel of vertex row 0, column 0
    int row_step{0};         // pixels from one vertex row to the next (negative: lower-left)
    // The bits of the screen's width and height as floats: a non-negative float's bits
    // compare as its value does, and those of negative numbers (-0 too, which then goes the
    // long way) and NaN compare above any width.
    uint32_t width_bits{0};
    uint32_t height_bits{0}; // of the rows open to the path: the target's, or fewer

    // Points with an alpha of at least this are drawn here: -inf for Replace, 255 for
    // OpaqueOver, NaN (none) while shut. A NaN alpha always goes the long way.
    float alpha_floor{std::numeric_limits<float>::quiet_NaN()};

    void arm(const Target& target, PointMode mode, int rows) {
        const bool lower_left = target.lower_left;
        row0 = target.pixels + (lower_left ? std::ptrdiff_t(target.height - 1) * target.width : 0);
        row_step = lower_left ? -int(target.width) : int(target.width);
        width_bits = std::bit_cast<uint32_t>(float(target.width));
        height_bits = std::bit_cast<uint32_t>(float(rows));
        alpha_floor = mode == PointMode::Replace      ? -std::numeric_limits<float>::infinity()
                      : mode == PointMode::OpaqueOver ? 255.0f
                                                      : std::numeric_limits<float>::quiet_NaN();
    }
    void shut() { alpha_floor = std::numeric_limits<float>::quiet_NaN(); }

    [[nodiscard, gnu::always_inline]] bool draw(const GrVertex& v) const {
        if (!(v.a >= alpha_floor))
            return false;
        if (!(std::bit_cast<uint32_t>(v.x) < width_bits &&
              std::bit_cast<uint32_t>(v.y) < height_bits)) // 0 <= x < width, 0 <= y < height
            return false;
        row0[int(v.y) * row_step + int(v.x)] = point_color(v); // floor
        return true;
    }
};

void draw_line(const Target& target, const RenderState& state, const Texture* texture,
               const GrVertex& a, const GrVertex& b);

// The kernels that work out a line's colours, for steps [first, first + count) of a line of
// `steps` steps: fractions(f, first, count, steps) sets f[i] to (first + i) / steps, each the
// correctly rounded quotient (a line of 0 steps has the one fraction 0); levels(out, ca, cb,
// f, count) sets out[i] to one channel's level at f[i], ca + (cb - ca) f[i] rounded half away
// from zero and held to [0, 255] (NaN 0). The baseline uses SSE2 where there is SSE2, the
// other AVX2 (nullptr where the build or the CPU has none); all give the same.
struct LineKernels {
    void (*fractions)(double* f, int first, int count, int steps);
    void (*levels)(uint8_t* out, float ca, float cb, const double* f, int count);
};
enum class LineKernel { Baseline, Avx2 };
[[nodiscard]] const LineKernels* line_kernels(LineKernel kernel);
void draw_triangle(const Target& target, const RenderState& state, const Texture* texture,
                   const GrVertex& a, const GrVertex& b, const GrVertex& c);

} // namespace board
