// Points and lines; triangles are in triangle.cpp, the shared pipeline in pixel_pipeline.h.
#include "rasterizer.h"

#include "pixel_pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

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

// A colour channel's level at fraction f of a line.
inline uint32_t level_at(float ca, float cb, double f) {
    return clamp255(int(round_half_away(ca + (cb - ca) * f)));
}

} // namespace

void draw_line(const Target& target, const RenderState& state, const Texture* texture,
               const GrVertex& a, const GrVertex& b) {
    int x0, y0, x1, y1;
    if (!pixel_of(target, a.x, a.y, x0, y0) || !pixel_of(target, b.x, b.y, x1, y1))
        return;
    Pipeline pipe(state, texture);
    const bool sampled = pipe.reads_texture();
    double sa = 0, ta = 0, sb = 0, tb = 0;
    if (sampled) {
        vertex_st(a, sa, ta);
        vertex_st(b, sb, tb);
        pipe.use_sampler(pipe.texture()->large_lod,
                         pipe.texture()->magnify == GR_TEXTUREFILTER_BILINEAR);
    }
    // The iterated colour written as it is (see point_mode): no combine, no blend.
    const PointMode mode = point_mode(state);
    int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int steps = std::max(dx, dy);
    float ca[4] = {a.a, a.r, a.g, a.b}, cb[4] = {b.a, b.r, b.g, b.b};
    // A channel equal at both ends keeps its level (its step is 0, or NaN all along).
    uint32_t c[4];
    unsigned varies = 0;
    for (int i = 0; i < 4; ++i) {
        c[i] = level_at(ca[i], cb[i], 0.0);
        varies |= ca[i] == cb[i] ? 0u : 1u << i;
    }
    int err = dx - dy;
    int x = x0, y = y0;
    for (int k = 0; k <= steps; ++k) {
        if (inside(target, x, y)) {
            double f = steps ? double(k) / steps : 0.0;
            for (int i = 0; i < 4; ++i)
                if (varies >> i & 1)
                    c[i] = level_at(ca[i], cb[i], f);
            const uint32_t iterated = pack(c[0], c[1], c[2], c[3]);
            uint32_t& dst = target.pixels[size_t(y) * size_t(target.width) + size_t(x)];
            if (mode == PointMode::Replace || (mode == PointMode::OpaqueOver && c[0] == 255)) {
                dst = iterated;
            } else {
                uint32_t texel =
                    sampled ? pipe.texel(to_st(sa + (sb - sa) * f), to_st(ta + (tb - ta) * f))
                            : pipe.texel(0, 0);
                pipe.write(dst, pipe.combine(iterated, texel));
            }
        }
        int e2 = 2 * err;
        if (e2 > -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 < dx) {
            err += dx;
            y += sy;
        }
    }
}

} // namespace board
