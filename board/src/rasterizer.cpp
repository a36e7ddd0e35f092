// Points and lines; triangles are in triangle.cpp, the shared pipeline in pixel_pipeline.h.
#include "rasterizer.h"

#include "pixel_pipeline.h"
#include "simd.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace board {

using namespace detail;

PointMode point_mode(const RenderState& st) {
    if (!unit_iterated(st.color) || !unit_iterated(st.alpha) || st.alpha_test != GR_CMP_ALWAYS)
        return PointMode::Pipeline;
    return is_replace(st)      ? PointMode::Replace
           : is_alpha_over(st) ? PointMode::OpaqueOver
                               : PointMode::Pipeline;
}

void draw_point(const Target& target, const RenderState& state, const Texture* texture,
                const GrVertex& v) {
    int x, y;
    if (!pixel_of(target, v.x, v.y, x, y) || !inside(target, x, y))
        return;
    uint32_t& dst = target.pixels[size_t(y) * size_t(target.width) + size_t(x)];
    uint32_t iterated = vertex_color(v);
    Pipeline pipe(state, texture);
    int64_t s = 0, t = 0;
    if (pipe.reads_texture()) {
        double sd, td;
        vertex_st(v, sd, td);
        s = to_st(sd);
        t = to_st(td);
        pipe.use_sampler(pipe.texture()->large_lod,
                         pipe.texture()->magnify == GR_TEXTUREFILTER_BILINEAR);
    }
    pipe.write(dst, pipe.combine(iterated, pipe.texel(s, t)));
}

namespace {

// std::lround without the library call for the values a line's colours take; the odd ones
// (huge, infinite, NaN) still go to the library. v - trunc(v) is exact.
inline long round_half_away(double v) {
    if (!(std::fabs(v) < 0x1p52))
        return std::lround(v);
    double r = std::trunc(v), d = v - r;
    return long(d >= 0.5 ? r + 1.0 : d <= -0.5 ? r - 1.0 : r);
}

// A colour channel's level at fraction f of a line: the value rounded half away from zero and
// held to [0, 255]; NaN gives 0.
inline uint32_t level_at(float ca, float cb, double f) {
    const double v = ca + (cb - ca) * f;
    if (!(v > -1.0))
        return 0;
    return v >= 256.0 ? 255 : clamp255(int(round_half_away(v)));
}

// Steps of a line whose colours are worked out at once.
constexpr int k_line_chunk = 256;

// The fractions k / steps of steps [first, first + count) of a line, each the correctly
// rounded quotient (steps 0 gives 0).
void line_fractions(double* f, int first, int count, int steps) {
    const double n = steps ? steps : 1;
    for (int i = 0; i < count; ++i)
        f[i] = double(first + i) / n;
}

// The levels of one channel at the fractions f[0, count), as level_at gives them. Ends below
// 2^24 keep every value below 2^31, where truncation to int is std::trunc: then four steps at
// a time where there is SSE2 (the same operations, each rounded as the scalar one is).
void channel_levels(uint8_t* out, float ca, float cb, const double* f, int count) {
    int i = 0;
#if defined(WT_HAVE_SSE2)
    if (std::fabs(ca) < 0x1p24f && std::fabs(cb) < 0x1p24f) {
        const __m128d a = _mm_set1_pd(ca), d = _mm_set1_pd(double(cb - ca));
        const __m128d half = _mm_set1_pd(0.5), minus_half = _mm_set1_pd(-0.5);
        // Two steps' levels in dwords 0 and 1.
        auto two = [&](const double* at) {
            const __m128d v = _mm_add_pd(a, _mm_mul_pd(d, _mm_loadu_pd(at)));
            const __m128i r = _mm_cvttpd_epi32(v);
            const __m128d rest = _mm_sub_pd(v, _mm_cvtepi32_pd(r));
            // All ones (-1) in the 64-bit lanes that round away; their low dwords to 0 and 1.
            const __m128i up = _mm_castpd_si128(_mm_cmpge_pd(rest, half));
            const __m128i down = _mm_castpd_si128(_mm_cmple_pd(rest, minus_half));
            return _mm_add_epi32(
                r, _mm_shuffle_epi32(_mm_sub_epi32(down, up), _MM_SHUFFLE(3, 3, 2, 0)));
        };
        for (; i + 4 <= count; i += 4) {
            const __m128i levels = _mm_unpacklo_epi64(two(f + i), two(f + i + 2));
            const __m128i words = _mm_packs_epi32(levels, levels);
            const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
            std::memcpy(out + i, &bytes, 4); // four levels in one store
        }
    }
#endif
    for (; i < count; ++i)
        out[i] = uint8_t(level_at(ca, cb, f[i]));
}

#if defined(WT_HAVE_AVX2)
// line_fractions and channel_levels four steps at a time: the same operations, each rounded
// as the scalar one is (the target has no fused multiply-add to merge them).
__attribute__((target("avx2"))) void line_fractions_avx2(double* f, int first, int count,
                                                         int steps) {
    const __m256d n = _mm256_set1_pd(steps ? steps : 1), four = _mm256_set1_pd(4);
    __m256d k = _mm256_add_pd(_mm256_set1_pd(first), _mm256_set_pd(3, 2, 1, 0));
    int i = 0;
    for (; i + 4 <= count; i += 4, k = _mm256_add_pd(k, four))
        _mm256_storeu_pd(f + i, _mm256_div_pd(k, n));
    line_fractions(f + i, first + i, count - i, steps);
}

__attribute__((target("avx2"))) void channel_levels_avx2(uint8_t* out, float ca, float cb,
                                                         const double* f, int count) {
    int i = 0;
    if (std::fabs(ca) < 0x1p24f && std::fabs(cb) < 0x1p24f) {
        const __m256d a = _mm256_set1_pd(ca), d = _mm256_set1_pd(double(cb - ca));
        const __m256d one = _mm256_set1_pd(1), half = _mm256_set1_pd(0.5);
        const __m256d minus_half = _mm256_set1_pd(-0.5);
        for (; i + 4 <= count; i += 4) {
            const __m256d v = _mm256_add_pd(a, _mm256_mul_pd(d, _mm256_loadu_pd(f + i)));
            const __m256d r = _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
            const __m256d rest = _mm256_sub_pd(v, r);
            const __m256d up = _mm256_and_pd(_mm256_cmp_pd(rest, half, _CMP_GE_OQ), one);
            const __m256d down = _mm256_and_pd(_mm256_cmp_pd(rest, minus_half, _CMP_LE_OQ), one);
            const __m128i levels = _mm256_cvttpd_epi32(_mm256_add_pd(r, _mm256_sub_pd(up, down)));
            const __m128i words = _mm_packs_epi32(levels, levels);
            const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
            std::memcpy(out + i, &bytes, 4);
        }
    }
    channel_levels(out + i, ca, cb, f + i, count - i);
}
#endif

} // namespace

const LineKernels* line_kernels(LineKernel kernel) {
    static constexpr LineKernels k_baseline{line_fractions, channel_levels};
#if defined(WT_HAVE_AVX2)
    static constexpr LineKernels k_avx2{line_fractions_avx2, channel_levels_avx2};
    if (kernel == LineKernel::Avx2)
        return cpu_has_avx2() ? &k_avx2 : nullptr;
#endif
    return kernel == LineKernel::Baseline ? &k_baseline : nullptr;
}

namespace {

// The iterated colours (0xAARRGGBB) of steps [first, first + count) of a line from colour
// `ca` to `cb` (a, r, g, b); a channel equal at both ends keeps the level `fixed` holds.
void line_colours(uint32_t* out, const float ca[4], const float cb[4], const uint32_t fixed[4],
                  int first, int count, int steps) {
    static const LineKernels& kernels =
        *line_kernels(line_kernels(LineKernel::Avx2) ? LineKernel::Avx2 : LineKernel::Baseline);
    uint8_t levels[k_line_chunk];
    double f[k_line_chunk];
    bool fractions = false;
    for (int i = 0; i < count; ++i)
        out[i] = pack(fixed[0], fixed[1], fixed[2], fixed[3]);
    for (int c = 0; c < 4; ++c) {
        if (ca[c] == cb[c])
            continue;
        if (!fractions)
            kernels.fractions(f, first, count, steps);
        fractions = true;
        kernels.levels(levels, ca[c], cb[c], f, count);
        const int shift = 24 - 8 * c;
        for (int i = 0; i < count; ++i)
            out[i] = (out[i] & ~(0xFFu << shift)) | uint32_t(levels[i]) << shift;
    }
}

// The Bresenham walk from one pixel to another, one step at a time.
struct LineWalk {
    int x, y, dx, dy, sx, sy, err, steps;
    LineWalk(int x0, int y0, int x1, int y1)
        : x(x0), y(y0), dx(std::abs(x1 - x0)), dy(std::abs(y1 - y0)), sx(x0 < x1 ? 1 : -1),
          sy(y0 < y1 ? 1 : -1), err(dx - dy), steps(std::max(dx, dy)) {}
    void step() {
        const int e2 = 2 * err;
        if (e2 > -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 < dx) {
            err += dx;
            y += sy;
        }
    }
};

// The whole walk inside the target's rows and columns, every step's iterated colour written
// as it is (see point_mode): no checks.
void walk_direct(const Target& target, LineWalk walk, const float ca[4], const float cb[4],
                 const uint32_t fixed[4]) {
    uint32_t colours[k_line_chunk];
    for (int k = 0; k <= walk.steps; ++k, walk.step()) {
        if (k % k_line_chunk == 0)
            line_colours(colours, ca, cb, fixed, k, std::min(k_line_chunk, walk.steps + 1 - k),
                         walk.steps);
        target.pixels[size_t(walk.y) * size_t(target.width) + size_t(walk.x)] =
            colours[k % k_line_chunk];
    }
}

} // namespace

void draw_line(const Target& target, const RenderState& state, const Texture* texture,
               const GrVertex& a, const GrVertex& b) {
    int x0, y0, x1, y1;
    if (!pixel_of(target, a.x, a.y, x0, y0) || !pixel_of(target, b.x, b.y, x1, y1))
        return;
    LineWalk walk(x0, y0, x1, y1);
    const float ca[4] = {a.a, a.r, a.g, a.b}, cb[4] = {b.a, b.r, b.g, b.b};
    uint32_t fixed[4]; // the levels of the first end
    for (int i = 0; i < 4; ++i)
        fixed[i] = level_at(ca[i], cb[i], 0.0);
    // The iterated colour written as it is (see point_mode): no combine, no blend.
    const PointMode mode = point_mode(state);
    const bool opaque = ca[0] == cb[0] && fixed[0] == 255; // alpha 255 all along
    if ((mode == PointMode::Replace || (mode == PointMode::OpaqueOver && opaque)) &&
        inside(target, x0, y0) && inside(target, x1, y1))
        return walk_direct(target, walk, ca, cb, fixed);
    Pipeline pipe(state, texture);
    const bool sampled = pipe.reads_texture();
    double sa = 0, ta = 0, sb = 0, tb = 0;
    if (sampled) {
        vertex_st(a, sa, ta);
        vertex_st(b, sb, tb);
        pipe.use_sampler(pipe.texture()->large_lod,
                         pipe.texture()->magnify == GR_TEXTUREFILTER_BILINEAR);
    }
    const int steps = walk.steps;
    uint32_t colours[k_line_chunk];
    for (int k = 0; k <= steps; ++k, walk.step()) {
        if (k % k_line_chunk == 0)
            line_colours(colours, ca, cb, fixed, k, std::min(k_line_chunk, steps + 1 - k), steps);
        if (!inside(target, walk.x, walk.y))
            continue;
        const uint32_t iterated = colours[k % k_line_chunk];
        uint32_t& dst = target.pixels[size_t(walk.y) * size_t(target.width) + size_t(walk.x)];
        if (mode == PointMode::Replace ||
            (mode == PointMode::OpaqueOver && iterated >> 24 == 255)) {
            dst = iterated;
        } else {
            const double f = steps ? double(k) / steps : 0.0;
            uint32_t texel = sampled
                                 ? pipe.texel(to_st(sa + (sb - sa) * f), to_st(ta + (tb - ta) * f))
                                 : pipe.texel(0, 0);
            pipe.write(dst, pipe.combine(iterated, texel));
        }
    }
}

} // namespace board
