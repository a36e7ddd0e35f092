// Triangles: the vertices snap to the sub-pixel grid, the attributes become planes over the
// triangle, the rows between the top and bottom vertex are walked, and each row's span of
// covered pixels is shaded (a fast span for the common textured case, else pixel by pixel
// through the pipeline). Each row is computed from the planes alone, so any band of rows
// comes out the same whether drawn alone or with the others.
#include "pixel_pipeline.h"
#include "texture_span.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace board {

using namespace detail;

namespace {

// Sub-pixel units: positions are held in 1/256 pixel; a pixel centre lies half a pixel in.
constexpr int64_t k_pixel = 256;
constexpr int64_t k_half_pixel = k_pixel / 2;
// Iterated colours step in fixed point with 16 fraction bits, held within +-k_color_limit.
constexpr double k_color_one = 65536.0;
constexpr double k_color_limit = 1e6;
// Below these, 1/w and the texel step per pixel count as their floor.
constexpr double k_min_w = 1e-12;
constexpr double k_min_rho = 1e-9;

// An attribute over the triangle: value = c + dx * x + dy * y (pixel units, rows downward).
struct Plane {
    double c{0}, dx{0}, dy{0};
    [[nodiscard]] double at(double x, double y) const { return c + dx * x + dy * y; }
};

struct Setup {
    double x[3], y[3], area;
    [[nodiscard]] Plane plane(double q0, double q1, double q2) const {
        Plane p;
        p.dx = ((q1 - q0) * (y[2] - y[0]) - (q2 - q0) * (y[1] - y[0])) / area;
        p.dy = ((q2 - q0) * (x[1] - x[0]) - (q1 - q0) * (x[2] - x[0])) / area;
        p.c = q0 - p.dx * x[0] - p.dy * y[0];
        return p;
    }
};

// One edge in 1/256 pixel units; a pixel centre p is inside when a*px + b(py) >= bias.
struct Edge {
    int64_t x0, y0, dx, dy;
    int64_t bias; // 0 for top and left edges, 1 for the others
};

Edge make_edge(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    Edge e{x0, y0, x1 - x0, y1 - y0, 1};
    bool top_left = e.dy < 0 || (e.dy == 0 && e.dx > 0);
    e.bias = top_left ? 0 : 1;
    return e;
}

// Narrows [lo, hi] to the pixel columns of row centre py that lie inside the edge.
inline void clip_span(const Edge& e, int64_t py, int64_t& lo, int64_t& hi) {
    // E(px) = dx * (py - y0) - dy * (px - x0) = a * px + b
    int64_t a = -e.dy;
    int64_t b = e.dx * (py - e.y0) + e.dy * e.x0;
    if (a > 0) // a * (256 i + 128) + b >= bias
        lo = std::max(lo, ceil_div(e.bias - b - k_half_pixel * a, k_pixel * a));
    else if (a < 0)
        hi = std::min(hi, floor_div(b - e.bias + k_half_pixel * a, -k_pixel * a));
    else if (b < e.bias)
        hi = lo - 1;
}

// The level of detail of a texture over a triangle, from the texel step per pixel.
GrLOD_t triangle_lod(const Texture& texture, double rho, bool& magnify) {
    double lod = std::log2(std::max(rho, k_min_rho)) + texture.lod_bias;
    magnify = lod <= double(texture.large_lod);
    // A NaN level (NaN texture coordinates or bias) is the largest level, minified: a NaN
    // would not convert to a level code.
    if (texture.mipmap_mode == GR_MIPMAP_DISABLE || std::isnan(lod))
        return texture.large_lod;
    return GrLOD_t(
        std::clamp(std::floor(lod), double(texture.large_lod), double(texture.small_lod)));
}

struct Span {
    uint32_t* row;
    int x0, x1;    // inclusive
    double cx, cy; // centre of the first pixel
};

// The three vertices on the sub-pixel grid, ordered so that the inside is positive for every
// edge.
struct Snapped {
    const GrVertex* v[3];
    int64_t x[3], y[3];
    int64_t area; // twice the area, in square sub-pixel units
};

// False for a triangle that is not drawn: a vertex outside the guard band (or NaN), or no area.
bool snap(const Target& target, const GrVertex& a, const GrVertex& b, const GrVertex& c,
          Snapped& out) {
    out.v[0] = &a;
    out.v[1] = &b;
    out.v[2] = &c;
    for (int i = 0; i < 3; ++i) {
        double x = out.v[i]->x, y = out.v[i]->y;
        if (!(std::fabs(x) < k_guard) || !(std::fabs(y) < k_guard))
            return false; // also drops NaN
        if (target.lower_left)
            y = target.height - y;
        out.x[i] = std::llround(x * k_subpixel);
        out.y[i] = std::llround(y * k_subpixel);
    }
    int64_t area = (out.x[1] - out.x[0]) * (out.y[2] - out.y[0]) -
                   (out.x[2] - out.x[0]) * (out.y[1] - out.y[0]);
    if (area == 0)
        return false;
    if (area < 0) {
        std::swap(out.v[1], out.v[2]);
        std::swap(out.x[1], out.x[2]);
        std::swap(out.y[1], out.y[2]);
    }
    out.area = area < 0 ? -area : area;
    return true;
}

// Everything the row walk needs of one triangle.
struct Triangle {
    Edge edges[3];
    Plane color[4]; // a, r, g, b
    Plane s, t, w;  // s and t directly, or s/w, t/w and 1/w with perspective
    bool textured{false};
    bool perspective{false};
    SpanFunction fast{nullptr}; // the span of the common case, when it applies
    int64_t first_row{0}, last_row{-1};
};

// The planes of the colours and the rows and edges of the triangle within the target.
void set_up_planes(const Target& target, const Snapped& sn, const Setup& setup, Triangle& tri) {
    tri.edges[0] = make_edge(sn.x[0], sn.y[0], sn.x[1], sn.y[1]);
    tri.edges[1] = make_edge(sn.x[1], sn.y[1], sn.x[2], sn.y[2]);
    tri.edges[2] = make_edge(sn.x[2], sn.y[2], sn.x[0], sn.y[0]);
    const GrVertex* const* v = sn.v;
    tri.color[0] = setup.plane(v[0]->a, v[1]->a, v[2]->a);
    tri.color[1] = setup.plane(v[0]->r, v[1]->r, v[2]->r);
    tri.color[2] = setup.plane(v[0]->g, v[1]->g, v[2]->g);
    tri.color[3] = setup.plane(v[0]->b, v[1]->b, v[2]->b);
    const int64_t ymin = std::min({sn.y[0], sn.y[1], sn.y[2]});
    const int64_t ymax = std::max({sn.y[0], sn.y[1], sn.y[2]});
    tri.first_row =
        std::max<int64_t>(std::max(0, target.first_row), ceil_div(ymin - k_half_pixel, k_pixel));
    tri.last_row = std::min<int64_t>(std::min(target.height, target.end_row) - 1,
                                     floor_div(ymax - k_half_pixel, k_pixel));
}

// Texture coordinates: s and t directly when w is the same at every vertex, else s/w, t/w
// and 1/w for a division at each pixel. Picks the level and the filter.
void set_up_texture(const Snapped& sn, const Setup& setup, Pipeline& pipe, Triangle& tri) {
    const GrVertex* const* v = sn.v;
    bool w_ok = usable_w(v[0]->oow) && usable_w(v[1]->oow) && usable_w(v[2]->oow);
    tri.perspective = w_ok && !(v[0]->oow == v[1]->oow && v[1]->oow == v[2]->oow);
    double rho;
    if (tri.perspective) {
        tri.s = setup.plane(v[0]->tmuvtx[0].sow, v[1]->tmuvtx[0].sow, v[2]->tmuvtx[0].sow);
        tri.t = setup.plane(v[0]->tmuvtx[0].tow, v[1]->tmuvtx[0].tow, v[2]->tmuvtx[0].tow);
        tri.w = setup.plane(v[0]->oow, v[1]->oow, v[2]->oow);
        double cx = (setup.x[0] + setup.x[1] + setup.x[2]) / 3;
        double cy = (setup.y[0] + setup.y[1] + setup.y[2]) / 3;
        double w = 1.0 / tri.w.at(cx, cy), s = tri.s.at(cx, cy) * w, t = tri.t.at(cx, cy) * w;
        double dsdx = (tri.s.dx - s * tri.w.dx) * w, dtdx = (tri.t.dx - t * tri.w.dx) * w;
        double dsdy = (tri.s.dy - s * tri.w.dy) * w, dtdy = (tri.t.dy - t * tri.w.dy) * w;
        rho = std::max(std::hypot(dsdx, dtdx), std::hypot(dsdy, dtdy));
    } else {
        double s[3], t[3];
        for (int i = 0; i < 3; ++i)
            vertex_st(*v[i], s[i], t[i]);
        tri.s = setup.plane(s[0], s[1], s[2]);
        tri.t = setup.plane(t[0], t[1], t[2]);
        rho = std::max(std::hypot(tri.s.dx, tri.t.dx), std::hypot(tri.s.dy, tri.t.dy));
    }
    bool magnify;
    const Texture& tex = *pipe.texture();
    GrLOD_t lod = triangle_lod(tex, rho, magnify);
    pipe.use_sampler(lod, (magnify ? tex.magnify : tex.minify) == GR_TEXTUREFILTER_BILINEAR);
}

// The fast span applies when the texel is the colour and nothing is blended.
bool fast_span_applies(const RenderState& st, const Snapped& sn, const Triangle& tri) {
    const GrVertex* const* v = sn.v;
    return tri.textured && !tri.perspective && unit_texture(st.color) && unit_iterated(st.alpha) &&
           st.alpha_test == GR_CMP_ALWAYS && st.tex_combine[0] == GR_TEXTURECOMBINE_DECAL &&
           (is_replace(st) ||
            (is_alpha_over(st) && v[0]->a >= 255.0f && v[1]->a >= 255.0f && v[2]->a >= 255.0f));
}

// A plane's value at a point and its step per pixel, with 16 fraction bits.
int64_t color_fixed(double v) {
    return std::llround(std::clamp(v, -k_color_limit, k_color_limit) * k_color_one);
}

// One row's covered pixels pixel by pixel through the pipeline.
void shade_span(const Span& span, const Triangle& tri, const Pipeline& pipe) {
    int64_t c[4], dc[4];
    for (int i = 0; i < 4; ++i) {
        c[i] = color_fixed(tri.color[i].at(span.cx, span.cy));
        dc[i] = color_fixed(tri.color[i].dx);
    }
    int64_t s = 0, t = 0, ds = 0, dt = 0;
    if (tri.textured && !tri.perspective) {
        s = to_st(tri.s.at(span.cx, span.cy));
        t = to_st(tri.t.at(span.cx, span.cy));
        ds = to_st(tri.s.dx);
        dt = to_st(tri.t.dx);
    }
    for (int x = span.x0; x <= span.x1; ++x) {
        if (tri.textured && tri.perspective) {
            double px = double(x) + 0.5;
            double w = 1.0 / std::max(tri.w.at(px, span.cy), k_min_w);
            s = to_st(tri.s.at(px, span.cy) * w);
            t = to_st(tri.t.at(px, span.cy) * w);
        }
        uint32_t iterated = pack(clamp255(int(c[0] >> 16)), clamp255(int(c[1] >> 16)),
                                 clamp255(int(c[2] >> 16)), clamp255(int(c[3] >> 16)));
        pipe.write(span.row[x], pipe.combine(iterated, pipe.texel(s, t)));
        for (int i = 0; i < 4; ++i)
            c[i] += dc[i];
        s += ds;
        t += dt;
    }
}

// One row's covered pixels through the fast span.
void shade_fast_span(const Span& span, const Triangle& tri, const Pipeline& pipe) {
    tri.fast(span.row + span.x0, span.x1 - span.x0 + 1, pipe.sampler(),
             to_st(tri.s.at(span.cx, span.cy)), to_st(tri.s.dx), to_st(tri.t.at(span.cx, span.cy)),
             to_st(tri.t.dx), color_fixed(tri.color[0].at(span.cx, span.cy)),
             color_fixed(tri.color[0].dx));
}

// Every row whose pixel centres the triangle covers, from the top.
void walk_rows(const Target& target, const Triangle& tri, const Pipeline& pipe) {
    for (int64_t row = tri.first_row; row <= tri.last_row; ++row) {
        const int64_t py = row * k_pixel + k_half_pixel;
        int64_t lo = 0, hi = target.width - 1;
        for (const Edge& e : tri.edges)
            clip_span(e, py, lo, hi);
        if (lo > hi)
            continue;
        const Span span{target.pixels + size_t(row) * size_t(target.width), int(lo), int(hi),
                        double(lo) + 0.5, double(row) + 0.5};
        if (tri.fast)
            shade_fast_span(span, tri, pipe);
        else
            shade_span(span, tri, pipe);
    }
}

} // namespace

void draw_triangle(const Target& target, const RenderState& state, const Texture* texture,
                   const GrVertex& a, const GrVertex& b, const GrVertex& c) {
    Snapped sn;
    if (!snap(target, a, b, c, sn))
        return;
    Setup setup;
    for (int i = 0; i < 3; ++i) {
        setup.x[i] = double(sn.x[i]) / k_subpixel;
        setup.y[i] = double(sn.y[i]) / k_subpixel;
    }
    setup.area = double(sn.area) / (k_subpixel * k_subpixel);

    Pipeline pipe(state, texture);
    Triangle tri;
    set_up_planes(target, sn, setup, tri);
    tri.textured = pipe.reads_texture();
    if (tri.textured)
        set_up_texture(sn, setup, pipe, tri);
    if (fast_span_applies(state, sn, tri))
        tri.fast = pick_texture_span(pipe.sampler());
    walk_rows(target, tri, pipe);
}

} // namespace board
