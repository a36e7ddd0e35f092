// The pixel pipeline the rasteriser's primitives share: fixed-point helpers, texture
// sampling, colour and alpha combine, alpha test and blending. Internal to the board.
#pragma once

#include "rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace board::detail {

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

inline int64_t floor_div(int64_t a, int64_t b) { // b > 0
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
inline int64_t ceil_div(int64_t a, int64_t b) {
    return -floor_div(-a, b);
} // b > 0

// A texel coordinate in 2^-32 units, held within range.
inline int64_t to_st(double v) {
    if (!(v > -k_st_limit)) // also catches NaN
        v = -k_st_limit;
    if (v > k_st_limit)
        v = k_st_limit;
    // std::llround without the library call: x is at most 2^52, so truncation and the rest
    // are exact.
    const double x = v * k_st_one;
    const auto whole = int64_t(x);
    const double rest = x - double(whole);
    return whole + (rest >= 0.5 ? 1 : 0) - (rest <= -0.5 ? 1 : 0);
}

// floor() for values well inside the int range, without a library call.
inline int floor_int(float v) {
    int i = int(v);
    return float(i) > v ? i - 1 : i;
}

inline bool usable_w(float oow) {
    return std::isfinite(oow) && oow > 0.0f;
}

// ---- texture sampling -------------------------------------------------------------------

// Adds a texel times a weight to two accumulators holding R,B and A,G in 32-bit lanes.
inline void accumulate(uint64_t& rb, uint64_t& ag, uint32_t c, uint32_t w) {
    rb += ((uint64_t(c & 0x00FF0000u) << 16) | (c & 0xFFu)) * w;
    ag += ((uint64_t(c & 0xFF000000u) << 8) | ((c >> 8) & 0xFFu)) * w;
}

inline int64_t address(int64_t x, uint32_t size, bool wrap) {
    return wrap ? (x & int64_t(size - 1)) : std::clamp<int64_t>(x, 0, int64_t(size) - 1);
}

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
        return pack(uint32_t(ag >> 48) & 0xFF, uint32_t(rb >> 48) & 0xFF, uint32_t(ag >> 16) & 0xFF,
                    uint32_t(rb >> 16) & 0xFF);
    }
};

inline Sampler make_sampler(const Texture& texture, GrLOD_t lod, bool bilinear) {
    lod = std::clamp(lod, texture.large_lod, texture.small_lod);
    return {&texture.level(lod), 24 + lod, bilinear, texture.s_clamp != GR_TEXTURECLAMP_CLAMP,
            texture.t_clamp != GR_TEXTURECLAMP_CLAMP};
}

// ---- the pixel pipeline -----------------------------------------------------------------

inline bool unit_reads_texture(const CombineUnit& u) {
    return u.other == GR_COMBINE_OTHER_TEXTURE || u.factor == GR_COMBINE_FACTOR_TEXTURE_ALPHA ||
           u.factor == GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA;
}

// One channel of a combine unit.
inline int combine_channel(const CombineUnit& u, int local, int local_alpha, int other,
                           int other_alpha, int texture_alpha) {
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

inline uint32_t pick_source(int32_t which, uint32_t iterated, uint32_t texel, uint32_t constant) {
    switch (which) {
    case GR_COMBINE_OTHER_TEXTURE:
        return texel;
    case GR_COMBINE_OTHER_CONSTANT:
        return constant;
    default:
        return iterated;
    }
}

inline int blend_factor(int32_t code, bool source, int s, int d, int as, int ad) {
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

inline bool is_replace(const RenderState& st) {
    return st.rgb_src == GR_BLEND_ONE && st.rgb_dst == GR_BLEND_ZERO &&
           st.alpha_src == GR_BLEND_ONE && st.alpha_dst == GR_BLEND_ZERO;
}
inline bool is_alpha_over(const RenderState& st) { // source-alpha blending, alpha written as is
    return st.rgb_src == GR_BLEND_SRC_ALPHA && st.rgb_dst == GR_BLEND_ONE_MINUS_SRC_ALPHA &&
           st.alpha_src == GR_BLEND_ONE && st.alpha_dst == GR_BLEND_ZERO;
}
// The unit passes the iterated value on unchanged.
inline bool unit_iterated(const CombineUnit& u) {
    return !u.invert &&
           ((u.function == GR_COMBINE_FUNCTION_LOCAL && u.local == GR_COMBINE_LOCAL_ITERATED) ||
            (u.function == GR_COMBINE_FUNCTION_SCALE_OTHER && u.factor == GR_COMBINE_FACTOR_ONE &&
             u.other == GR_COMBINE_OTHER_ITERATED));
}
// The unit passes the texel on unchanged.
inline bool unit_texture(const CombineUnit& u) {
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

inline uint32_t vertex_color(const GrVertex& v) {
    return pack(clamp255f(v.a), clamp255f(v.r), clamp255f(v.g), clamp255f(v.b));
}

// The pixel row of a vertex y for points and lines: the row whose band [j, j+1) holds it.
inline bool pixel_of(const Target& target, float x, float y, int& px, int& py) {
    if (!(std::fabs(x) < k_guard) || !(std::fabs(y) < k_guard))
        return false;
    px = floor_int(x);
    int row = floor_int(y);
    py = target.lower_left ? target.height - 1 - row : row;
    return true;
}

inline bool inside(const Target& target, int x, int y) {
    return x >= 0 && y >= target.first_row && x < target.width && y < target.height &&
           y < target.end_row;
}

// s and t of a vertex divided by its w; w is 1 when oow is unusable.
inline void vertex_st(const GrVertex& v, double& s, double& t) {
    double w = usable_w(v.oow) ? 1.0 / v.oow : 1.0;
    s = v.tmuvtx[0].sow * w;
    t = v.tmuvtx[0].tow * w;
}

} // namespace board::detail
