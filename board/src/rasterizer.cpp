#include "rasterizer.h"

#include "texture_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace board {

namespace {

constexpr double k_st_one = 4294967296.0; // s and t are fixed point with 32 fraction bits
constexpr double k_st_limit = 1048576.0;  // texel coordinates beyond are held here
constexpr double k_guard = 32768.0;       // vertices farther out are not drawn
constexpr double k_subpixel = 256.0;      // positions snap to 1/256 pixel

// ---- helpers ----------------------------------------------------------------------------

constexpr uint32_t pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return a << 24 | r << 16 | g << 8 | b;
}
constexpr uint32_t ch(uint32_t c, int index) {
    return (c >> (index * 8)) & 0xFF;
} // 0 = b
constexpr uint32_t clamp255(int v) {
    return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v);
}
constexpr uint32_t clamp255f(float v) { // NaN gives 0
    return !(v > 0.0f) ? 0 : v >= 255.0f ? 255 : uint32_t(v);
}

// x * f / 255 rounded to nearest, for signed x.
constexpr int scale255(int x, int f) {
    int p = x * f;
    return (p >= 0 ? p + 127 : p - 127) / 255;
}

int64_t floor_div(int64_t a, int64_t b) { // b > 0
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
int64_t ceil_div(int64_t a, int64_t b) {
    return -floor_div(-a, b);
} // b > 0

// A texel coordinate in 2^-32 units, held within range.
int64_t to_st(double v) {
    if (!(v > -k_st_limit)) // also catches NaN
        v = -k_st_limit;
    if (v > k_st_limit)
        v = k_st_limit;
    return std::llround(v * k_st_one);
}

// floor() for values well inside the int range, without a library call.
inline int floor_int(float v) {
    int i = int(v);
    return float(i) > v ? i - 1 : i;
}

bool usable_w(float oow) {
    return std::isfinite(oow) && oow > 0.0f;
}

// ---- texture sampling -------------------------------------------------------------------

// texture_sampler.h: one level sampled at s, t (nearest or bilinear, wrap or clamp).

// ---- the pixel pipeline -----------------------------------------------------------------

bool unit_reads_texture(const CombineUnit& u) {
    return u.other == GR_COMBINE_OTHER_TEXTURE || u.factor == GR_COMBINE_FACTOR_TEXTURE_ALPHA ||
           u.factor == GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA;
}

// One channel of a combine unit.
int combine_channel(const CombineUnit& u, int local, int local_alpha, int other, int other_alpha,
                    int texture_alpha) {
    int f;
    switch (u.factor) {
    case GR_COMBINE_FACTOR_LOCAL:
        f = local;
        break;
    case GR_COMBINE_FACTOR_OTHER_ALPHA:
        f = other_alpha;
        break;
    case GR_COMBINE_FACTOR_LOCAL_ALPHA:
        f = local_alpha;
        break;
    case GR_COMBINE_FACTOR_TEXTURE_ALPHA:
        f = texture_alpha;
        break;
    case GR_COMBINE_FACTOR_ONE:
        f = 255;
        break;
    case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL:
        f = 255 - local;
        break;
    case GR_COMBINE_FACTOR_ONE_MINUS_OTHER_ALPHA:
        f = 255 - other_alpha;
        break;
    case GR_COMBINE_FACTOR_ONE_MINUS_LOCAL_ALPHA:
        f = 255 - local_alpha;
        break;
    case GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA:
        f = 255 - texture_alpha;
        break;
    default:
        f = 0;
        break;
    }
    int v;
    switch (u.function) {
    case GR_COMBINE_FUNCTION_LOCAL:
        v = local;
        break;
    case GR_COMBINE_FUNCTION_LOCAL_ALPHA:
        v = local_alpha;
        break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER:
        v = scale255(other, f);
        break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL:
        v = scale255(other, f) + local;
        break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA:
        v = scale255(other, f) + local_alpha;
        break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL:
        v = scale255(other - local, f);
        break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL:
        v = scale255(other - local, f) + local;
        break;
    case GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA:
        v = scale255(other - local, f) + local_alpha;
        break;
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL:
        v = scale255(-local, f) + local;
        break;
    case GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA:
        v = scale255(-local, f) + local_alpha;
        break;
    default:
        v = 0;
        break; // GR_COMBINE_FUNCTION_ZERO and unknown functions
    }
    uint32_t out = clamp255(v);
    return int(u.invert ? 255 - out : out);
}

uint32_t pick_source(int32_t which, uint32_t iterated, uint32_t texel, uint32_t constant) {
    switch (which) {
    case GR_COMBINE_OTHER_TEXTURE:
        return texel;
    case GR_COMBINE_OTHER_CONSTANT:
        return constant;
    default:
        return iterated;
    }
}

int blend_factor(int32_t code, bool source, int s, int d, int as, int ad) {
    switch (code) {
    case GR_BLEND_SRC_ALPHA:
        return as;
    case GR_BLEND_SRC_COLOR:
        return source ? d : s; // DST_COLOR as a source factor
    case GR_BLEND_DST_ALPHA:
        return ad;
    case GR_BLEND_ONE:
        return 255;
    case GR_BLEND_ONE_MINUS_SRC_ALPHA:
        return 255 - as;
    case GR_BLEND_ONE_MINUS_SRC_COLOR:
        return source ? 255 - d : 255 - s;
    case GR_BLEND_ONE_MINUS_DST_ALPHA:
        return 255 - ad;
    case GR_BLEND_ALPHA_SATURATE:
        return source ? std::min(as, 255 - ad) : 0;
    default:
        return 0;
    }
}

bool is_replace(const RenderState& st) {
    return st.rgb_src == GR_BLEND_ONE && st.rgb_dst == GR_BLEND_ZERO &&
           st.alpha_src == GR_BLEND_ONE && st.alpha_dst == GR_BLEND_ZERO;
}
bool is_alpha_over(const RenderState& st) { // source-alpha blending, alpha written as is
    return st.rgb_src == GR_BLEND_SRC_ALPHA && st.rgb_dst == GR_BLEND_ONE_MINUS_SRC_ALPHA &&
           st.alpha_src == GR_BLEND_ONE && st.alpha_dst == GR_BLEND_ZERO;
}
// The unit passes the iterated value on unchanged.
bool unit_iterated(const CombineUnit& u) {
    return !u.invert &&
           ((u.function == GR_COMBINE_FUNCTION_LOCAL && u.local == GR_COMBINE_LOCAL_ITERATED) ||
            (u.function == GR_COMBINE_FUNCTION_SCALE_OTHER && u.factor == GR_COMBINE_FACTOR_ONE &&
             u.other == GR_COMBINE_OTHER_ITERATED));
}
// The unit passes the texel on unchanged.
bool unit_texture(const CombineUnit& u) {
    return !u.invert && u.function == GR_COMBINE_FUNCTION_SCALE_OTHER &&
           u.factor == GR_COMBINE_FACTOR_ONE && u.other == GR_COMBINE_OTHER_TEXTURE;
}

// Everything a primitive needs to turn an iterated colour and a texel into a written pixel.
class Pipeline {
public:
    Pipeline(const RenderState& st, const Texture* texture) : m_st(st) {
        m_reads_texture = unit_reads_texture(st.color) || unit_reads_texture(st.alpha);
        m_texture = (texture && texture->downloaded) ? texture : nullptr;
        m_replace = is_replace(st);
        m_alpha_over = is_alpha_over(st);
    }

    [[nodiscard]] bool reads_texture() const { return m_reads_texture && m_texture; }
    [[nodiscard]] const Texture* texture() const { return m_texture; }
    [[nodiscard]] const Sampler& sampler() const { return m_sampler; }

    void use_sampler(GrLOD_t lod, bool bilinear) {
        if (m_texture)
            m_sampler = make_sampler(*m_texture, lod, bilinear);
    }

    // The texel after the texture combine of the one texture unit (its upstream input is 0).
    [[nodiscard]] uint32_t texel(int64_t s, int64_t t) const {
        if (!m_reads_texture)
            return 0;
        if (!m_texture)
            return 0xFF000000u; // no texture: opaque black
        switch (m_st.tex_combine[0]) {
        case GR_TEXTURECOMBINE_ZERO:
        case GR_TEXTURECOMBINE_OTHER:
        case GR_TEXTURECOMBINE_MULTIPLY:
            return 0;
        case GR_TEXTURECOMBINE_ONE:
            return 0xFFFFFFFFu;
        default: // DECAL, ADD, SUBTRACT: the local texel
            return m_sampler(s, t);
        }
    }

    // Colour and alpha combine: the pixel to be written, 0xAARRGGBB.
    [[nodiscard]] uint32_t combine(uint32_t iterated, uint32_t texel) const {
        const CombineUnit& cu = m_st.color;
        const CombineUnit& au = m_st.alpha;
        uint32_t constant = m_st.constant_color;
        int ta = int(ch(texel, 3));
        uint32_t alocal = au.local == GR_COMBINE_LOCAL_CONSTANT ? constant
                          : au.local == GR_COMBINE_LOCAL_DEPTH  ? 0
                                                                : iterated;
        int al = int(ch(alocal, 3));
        int ao = int(ch(pick_source(au.other, iterated, texel, constant), 3));
        int alpha = combine_channel(au, al, al, ao, ao, ta);
        uint32_t local = cu.local == GR_COMBINE_LOCAL_CONSTANT ? constant : iterated;
        uint32_t other = pick_source(cu.other, iterated, texel, constant);
        int la = int(ch(local, 3)), oa = int(ch(other, 3));
        uint32_t out = uint32_t(alpha) << 24;
        for (int i = 0; i < 3; ++i)
            out |= uint32_t(combine_channel(cu, int(ch(local, i)), la, int(ch(other, i)), oa, ta))
                   << (i * 8);
        return out;
    }

    // Alpha test, then blending with the pixel already there.
    void write(uint32_t& dst, uint32_t src) const {
        if (!alpha_passes(ch(src, 3)))
            return;
        if (m_replace || (m_alpha_over && (src >> 24) == 255)) {
            dst = src;
            return;
        }
        dst = blend(src, dst);
    }

private:
    [[nodiscard]] bool alpha_passes(uint32_t a) const {
        uint32_t ref = m_st.alpha_ref & 0xFF;
        switch (m_st.alpha_test) {
        case GR_CMP_NEVER:
            return false;
        case GR_CMP_LESS:
            return a < ref;
        case GR_CMP_EQUAL:
            return a == ref;
        case GR_CMP_LEQUAL:
            return a <= ref;
        case GR_CMP_GREATER:
            return a > ref;
        case GR_CMP_NOTEQUAL:
            return a != ref;
        case GR_CMP_GEQUAL:
            return a >= ref;
        default:
            return true;
        }
    }

    [[nodiscard]] uint32_t blend(uint32_t src, uint32_t dst) const {
        int as = int(ch(src, 3)), ad = int(ch(dst, 3));
        uint32_t out = 0;
        for (int i = 0; i < 3; ++i) {
            int s = int(ch(src, i)), d = int(ch(dst, i));
            int v = s * blend_factor(m_st.rgb_src, true, s, d, as, ad) +
                    d * blend_factor(m_st.rgb_dst, false, s, d, as, ad);
            out |= std::min(255u, uint32_t(v + 127) / 255) << (i * 8);
        }
        int va = as * blend_factor(m_st.alpha_src, true, as, ad, as, ad) +
                 ad * blend_factor(m_st.alpha_dst, false, as, ad, as, ad);
        return out | std::min(255u, uint32_t(va + 127) / 255) << 24;
    }

    const RenderState& m_st;
    const Texture* m_texture{nullptr};
    Sampler m_sampler;
    bool m_reads_texture{false};
    bool m_replace{false};
    bool m_alpha_over{false};
};

uint32_t vertex_color(const GrVertex& v) {
    return pack(clamp255f(v.a), clamp255f(v.r), clamp255f(v.g), clamp255f(v.b));
}

// The pixel row of a vertex y for points and lines: the row whose band [j, j+1) holds it.
bool pixel_of(const Target& target, float x, float y, int& px, int& py) {
    if (!(std::fabs(x) < k_guard) || !(std::fabs(y) < k_guard))
        return false;
    px = floor_int(x);
    int row = floor_int(y);
    py = target.lower_left ? target.height - 1 - row : row;
    return true;
}

bool inside(const Target& target, int x, int y) {
    return x >= 0 && y >= 0 && x < target.width && y < target.height;
}

// s and t of a vertex divided by its w; w is 1 when oow is unusable.
void vertex_st(const GrVertex& v, double& s, double& t) {
    double w = usable_w(v.oow) ? 1.0 / v.oow : 1.0;
    s = v.tmuvtx[0].sow * w;
    t = v.tmuvtx[0].tow * w;
}

// ---- triangles --------------------------------------------------------------------------

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
void clip_span(const Edge& e, int64_t py, int64_t& lo, int64_t& hi) {
    // E(px) = dx * (py - y0) - dy * (px - x0) = a * px + b
    int64_t a = -e.dy;
    int64_t b = e.dx * (py - e.y0) + e.dy * e.x0;
    if (a > 0) // a * (256 i + 128) + b >= bias
        lo = std::max(lo, ceil_div(e.bias - b - 128 * a, 256 * a));
    else if (a < 0)
        hi = std::min(hi, floor_div(b - e.bias + 128 * a, -256 * a));
    else if (b < e.bias)
        hi = lo - 1;
}

// The level of detail of a texture over a triangle, from the texel step per pixel.
GrLOD_t triangle_lod(const Texture& texture, double rho, bool& magnify) {
    double lod = std::log2(std::max(rho, 1e-9)) + texture.lod_bias;
    magnify = lod <= double(texture.large_lod);
    if (texture.mipmap_mode == GR_MIPMAP_DISABLE)
        return texture.large_lod;
    return GrLOD_t(
        std::clamp(std::floor(lod), double(texture.large_lod), double(texture.small_lod)));
}

struct Span {
    uint32_t* row;
    int x0, x1;    // inclusive
    double cx, cy; // centre of the first pixel
};

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
            // t is the same along the span: two texel rows and one fy. Each texel column is
            // mixed vertically once and kept while the pixels stay between the same two
            // columns (the sum is the same exact integer in either order).
            int64_t tu = ((t + half) >> shift) - 128;
            const uint64_t* r0 = lanes + (ay(tu >> 8) << wshift);
            const uint64_t* r1 = lanes + (ay((tu >> 8) + 1) << wshift);
            const uint32_t fy = uint32_t(tu & 255);
            auto column = [=](int64_t x) { return mix_row(r0[x], r1[x], fy); };
            int64_t current = INT64_MIN;
            uint64_t left = 0, right = 0;
            for (int i = 0; i < count; ++i) {
                int64_t su = ((s + half) >> shift) - 128;
                int64_t xi = su >> 8;
                if (xi != current) {
                    left = xi == current + 1 ? right : column(ax(xi));
                    right = column(ax(xi + 1));
                    current = xi;
                }
                dst[i] = mix_rows(left, right, uint32_t(su & 255)) | clamp255(int(a >> 16)) << 24;
                s += ds;
                a += da;
            }
            return;
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

using SpanFunction = void (*)(uint32_t*, int, const Sampler&, int64_t, int64_t, int64_t, int64_t,
                              int64_t, int64_t);

SpanFunction pick_texture_span(const Sampler& s) {
    static constexpr SpanFunction k_spans[8] = {
        texture_span<false, false, false>, texture_span<false, false, true>,
        texture_span<false, true, false>,  texture_span<false, true, true>,
        texture_span<true, false, false>,  texture_span<true, false, true>,
        texture_span<true, true, false>,   texture_span<true, true, true>,
    };
    return k_spans[(s.bilinear ? 4 : 0) + (s.wrap_s ? 2 : 0) + (s.wrap_t ? 1 : 0)];
}

} // namespace

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

void draw_line(const Target& target, const RenderState& state, const Texture* texture,
               const GrVertex& a, const GrVertex& b) {
    int x0, y0, x1, y1;
    if (!pixel_of(target, a.x, a.y, x0, y0) || !pixel_of(target, b.x, b.y, x1, y1))
        return;
    Pipeline pipe(state, texture);
    double sa = 0, ta = 0, sb = 0, tb = 0;
    if (pipe.reads_texture()) {
        vertex_st(a, sa, ta);
        vertex_st(b, sb, tb);
        pipe.use_sampler(pipe.texture()->large_lod,
                         pipe.texture()->magnify == GR_TEXTUREFILTER_BILINEAR);
    }
    int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int steps = std::max(dx, dy);
    float ca[4] = {a.a, a.r, a.g, a.b}, cb[4] = {b.a, b.r, b.g, b.b};
    int err = dx - dy;
    int x = x0, y = y0;
    for (int k = 0; k <= steps; ++k) {
        if (inside(target, x, y)) {
            double f = steps ? double(k) / steps : 0.0;
            uint32_t c[4];
            for (int i = 0; i < 4; ++i)
                c[i] = clamp255(int(std::lround(ca[i] + (cb[i] - ca[i]) * f)));
            uint32_t texel = pipe.texel(to_st(sa + (sb - sa) * f), to_st(ta + (tb - ta) * f));
            pipe.write(target.pixels[size_t(y) * size_t(target.width) + size_t(x)],
                       pipe.combine(pack(c[0], c[1], c[2], c[3]), texel));
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

void draw_triangle(const Target& target, const RenderState& state, const Texture* texture,
                   const GrVertex& va, const GrVertex& vb, const GrVertex& vc) {
    const GrVertex* v[3] = {&va, &vb, &vc};
    int64_t fx[3], fy[3];
    for (int i = 0; i < 3; ++i) {
        double x = v[i]->x, y = v[i]->y;
        if (!(std::fabs(x) < k_guard) || !(std::fabs(y) < k_guard))
            return; // also drops NaN
        if (target.lower_left)
            y = target.height - y;
        fx[i] = std::llround(x * k_subpixel);
        fy[i] = std::llround(y * k_subpixel);
    }
    int64_t area = (fx[1] - fx[0]) * (fy[2] - fy[0]) - (fx[2] - fx[0]) * (fy[1] - fy[0]);
    if (area == 0)
        return;
    if (area < 0) { // make the inside positive for every edge
        std::swap(v[1], v[2]);
        std::swap(fx[1], fx[2]);
        std::swap(fy[1], fy[2]);
    }
    Edge edges[3] = {make_edge(fx[0], fy[0], fx[1], fy[1]), make_edge(fx[1], fy[1], fx[2], fy[2]),
                     make_edge(fx[2], fy[2], fx[0], fy[0])};

    Setup setup;
    for (int i = 0; i < 3; ++i) {
        setup.x[i] = double(fx[i]) / k_subpixel;
        setup.y[i] = double(fy[i]) / k_subpixel;
    }
    setup.area = std::fabs(double(area)) / (k_subpixel * k_subpixel);

    Pipeline pipe(state, texture);
    Plane color[4]; // a, r, g, b
    color[0] = setup.plane(v[0]->a, v[1]->a, v[2]->a);
    color[1] = setup.plane(v[0]->r, v[1]->r, v[2]->r);
    color[2] = setup.plane(v[0]->g, v[1]->g, v[2]->g);
    color[3] = setup.plane(v[0]->b, v[1]->b, v[2]->b);

    // Texture coordinates: s and t directly when w is the same at every vertex, else s/w,
    // t/w and 1/w for a division at each pixel.
    bool textured = pipe.reads_texture();
    bool perspective = false;
    Plane ps, pt, pw;
    bool bilinear = false;
    if (textured) {
        bool w_ok = usable_w(v[0]->oow) && usable_w(v[1]->oow) && usable_w(v[2]->oow);
        perspective = w_ok && !(v[0]->oow == v[1]->oow && v[1]->oow == v[2]->oow);
        double rho;
        if (perspective) {
            ps = setup.plane(v[0]->tmuvtx[0].sow, v[1]->tmuvtx[0].sow, v[2]->tmuvtx[0].sow);
            pt = setup.plane(v[0]->tmuvtx[0].tow, v[1]->tmuvtx[0].tow, v[2]->tmuvtx[0].tow);
            pw = setup.plane(v[0]->oow, v[1]->oow, v[2]->oow);
            double cx = (setup.x[0] + setup.x[1] + setup.x[2]) / 3;
            double cy = (setup.y[0] + setup.y[1] + setup.y[2]) / 3;
            double w = 1.0 / pw.at(cx, cy), s = ps.at(cx, cy) * w, t = pt.at(cx, cy) * w;
            double dsdx = (ps.dx - s * pw.dx) * w, dtdx = (pt.dx - t * pw.dx) * w;
            double dsdy = (ps.dy - s * pw.dy) * w, dtdy = (pt.dy - t * pw.dy) * w;
            rho = std::max(std::hypot(dsdx, dtdx), std::hypot(dsdy, dtdy));
        } else {
            double s[3], t[3];
            for (int i = 0; i < 3; ++i)
                vertex_st(*v[i], s[i], t[i]);
            ps = setup.plane(s[0], s[1], s[2]);
            pt = setup.plane(t[0], t[1], t[2]);
            rho = std::max(std::hypot(ps.dx, pt.dx), std::hypot(ps.dy, pt.dy));
        }
        bool magnify;
        const Texture& tex = *pipe.texture();
        GrLOD_t lod = triangle_lod(tex, rho, magnify);
        bilinear = (magnify ? tex.magnify : tex.minify) == GR_TEXTUREFILTER_BILINEAR;
        pipe.use_sampler(lod, bilinear);
    }

    // The fast span applies when the texel is the colour and nothing is blended.
    const bool fast =
        textured && !perspective && unit_texture(state.color) && unit_iterated(state.alpha) &&
        state.alpha_test == GR_CMP_ALWAYS && state.tex_combine[0] == GR_TEXTURECOMBINE_DECAL &&
        (is_replace(state) ||
         (is_alpha_over(state) && va.a >= 255.0f && vb.a >= 255.0f && vc.a >= 255.0f));

    SpanFunction fast_span = fast ? pick_texture_span(pipe.sampler()) : nullptr;
    int64_t ymin = std::min({fy[0], fy[1], fy[2]}), ymax = std::max({fy[0], fy[1], fy[2]});
    int64_t row0 = std::max<int64_t>(0, ceil_div(ymin - 128, 256));
    int64_t row1 = std::min<int64_t>(target.height - 1, floor_div(ymax - 128, 256));
    for (int64_t row = row0; row <= row1; ++row) {
        int64_t py = row * 256 + 128;
        int64_t lo = 0, hi = target.width - 1;
        for (const Edge& e : edges)
            clip_span(e, py, lo, hi);
        if (lo > hi)
            continue;
        Span span{target.pixels + size_t(row) * size_t(target.width), int(lo), int(hi),
                  double(lo) + 0.5, double(row) + 0.5};
        int64_t c[4], dc[4]; // 16 fraction bits
        for (int i = 0; i < 4; ++i) {
            c[i] = std::llround(std::clamp(color[i].at(span.cx, span.cy), -1e6, 1e6) * 65536.0);
            dc[i] = std::llround(std::clamp(color[i].dx, -1e6, 1e6) * 65536.0);
        }
        if (fast) {
            fast_span(span.row + span.x0, span.x1 - span.x0 + 1, pipe.sampler(),
                      to_st(ps.at(span.cx, span.cy)), to_st(ps.dx), to_st(pt.at(span.cx, span.cy)),
                      to_st(pt.dx), c[0], dc[0]);
            continue;
        }
        int64_t s = 0, t = 0, ds = 0, dt = 0;
        if (textured && !perspective) {
            s = to_st(ps.at(span.cx, span.cy));
            t = to_st(pt.at(span.cx, span.cy));
            ds = to_st(ps.dx);
            dt = to_st(pt.dx);
        }
        for (int x = span.x0; x <= span.x1; ++x) {
            if (textured && perspective) {
                double px = double(x) + 0.5;
                double w = 1.0 / std::max(pw.at(px, span.cy), 1e-12);
                s = to_st(ps.at(px, span.cy) * w);
                t = to_st(pt.at(px, span.cy) * w);
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
}

} // namespace board
