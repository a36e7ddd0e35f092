// Exact pixels of the rasteriser on tiny buffers.
#include "rasterizer.h"
#include "texture_file.h"
#include "pixel_pipeline.h"
#include "vertex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace board;

namespace {

struct Canvas {
    int width, height;
    std::vector<uint32_t> pixels;
    Target target;

    Canvas(int w, int h, bool lower_left = false, uint32_t fill = 0)
        : width(w), height(h),
          pixels(size_t(w) * h, fill), target{pixels.data(), w, h, lower_left} {}
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
    // The red channel of every pixel as digits, row by row ('.' for 0).
    std::string red_map() const {
        std::string s;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uint32_t r = (at(x, y) >> 16) & 0xFF;
                s += r == 0 ? '.' : r < 10 ? char('0' + r) : '#';
            }
            s += '\n';
        }
        return s;
    }
};

GrVertex textured(float x, float y, float s, float t, float oow = 1.0f) {
    GrVertex v = vertex(x, y);
    v.oow = oow;
    v.tmuvtx[0].sow = s * oow;
    v.tmuvtx[0].tow = t * oow;
    return v;
}

// Vertex colour, written as it is.
RenderState flat_state() {
    RenderState st;
    color_combine_preset(GR_COLORCOMBINE_ITRGB, st.color);
    alpha_source_preset(GR_ALPHASOURCE_ITERATED_ALPHA, st.alpha);
    return st;
}

// Vertex colour added to what is there: each pixel counts how often it was drawn.
RenderState counting_state() {
    RenderState st = flat_state();
    st.rgb_src = st.rgb_dst = GR_BLEND_ONE;
    return st;
}

// The texel as it is.
RenderState texture_state() {
    RenderState st = flat_state();
    color_combine_preset(GR_COLORCOMBINE_DECAL_TEXTURE, st.color);
    return st;
}

void quad(const Target& t, const RenderState& st, const Texture* tex, const GrVertex& a,
          const GrVertex& b, const GrVertex& c, const GrVertex& d) {
    draw_triangle(t, st, tex, a, b, c);
    draw_triangle(t, st, tex, c, d, a);
}

// A texture with one level made of the given 0xAARRGGBB texels.
Texture make_texture(GrLOD_t lod, GrAspectRatio_t aspect, std::vector<uint32_t> texels,
                     GrTextureClampMode_t clamp = GR_TEXTURECLAMP_WRAP,
                     GrTextureFilterMode_t filter = GR_TEXTUREFILTER_POINT_SAMPLED) {
    TextureMemory memory;
    Extent e = level_extent(lod, aspect);
    TextureRequest r;
    r.width = int(e.width);
    r.height = int(e.height);
    r.format = GR_TEXFMT_ARGB_4444; // replaced below
    r.small_lod = r.large_lod = lod;
    r.aspect = aspect;
    r.s_clamp = r.t_clamp = clamp;
    r.minify = r.magnify = filter;
    GrMipMapId_t id = memory.allocate(r);
    Texture t = *memory.find(id);
    t.levels[0].texels = std::move(texels);
    refresh_lanes(t.levels[0]);
    t.downloaded = true;
    return t;
}

constexpr int64_t k_unit = int64_t(1) << 32; // s and t in 2^-32 units

} // namespace

// Texel coordinates round half away from zero as std::llround does, and hold out-of-range
// and NaN values at the limits.
TEST(Rasterizer, TexelCoordinatesRoundLikeTheLibrary) {
    using detail::k_st_limit, detail::k_st_one, detail::to_st;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> any(-1.2e6, 1.2e6);
    const double unit = 1.0 / k_st_one;
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.5 * unit,
                                  -0.5 * unit,
                                  1.5 * unit,
                                  -2.5 * unit,
                                  0.49999999 * unit,
                                  255.5,
                                  -255.5,
                                  k_st_limit,
                                  -k_st_limit,
                                  2 * k_st_limit,
                                  -2 * k_st_limit,
                                  INFINITY,
                                  -INFINITY};
    for (int i = 0; i < 20000; ++i)
        values.push_back(i % 2 ? any(rng) : (double(int64_t(rng()) - (1 << 30)) + 0.5) * unit);
    for (double v : values) {
        const double held = std::clamp(v, -k_st_limit, k_st_limit);
        ASSERT_EQ(to_st(v), std::llround(held * k_st_one)) << v;
    }
    EXPECT_EQ(to_st(NAN), std::llround(-k_st_limit * k_st_one));
}

TEST(Rasterizer, PointLightsThePixelThatHoldsIt) {
    RenderState st = flat_state();
    Canvas top(4, 3), bottom(4, 3, true);
    for (Canvas* c : {&top, &bottom}) {
        draw_point(c->target, st, nullptr, vertex(2.9f, 1.1f, 7, 0, 0));
        draw_point(c->target, st, nullptr, vertex(0.0f, 0.0f, 5, 0, 0));
        draw_point(c->target, st, nullptr, vertex(4.0f, 1.0f, 9, 0, 0));  // off the right
        draw_point(c->target, st, nullptr, vertex(-0.5f, 1.0f, 9, 0, 0)); // off the left
    }
    EXPECT_EQ(top.red_map(), "5...\n..7.\n....\n");
    EXPECT_EQ(bottom.red_map(), "....\n..7.\n5...\n"); // y = 0 is the bottom row
}

TEST(Rasterizer, PointTakesVertexColourAndAlpha) {
    Canvas c(2, 2);
    draw_point(c.target, flat_state(), nullptr, vertex(1, 1, 12, 34, 56, 78));
    EXPECT_EQ(c.at(1, 1), 0x4E0C2238u);
}

// A coordinate or colour channel for the point path: mostly ordinary, often an edge case.
float awkward_value(std::mt19937& rng, float limit) {
    static const float k_odd[] = {0.0f,           -0.0f,    -0.5f,     -1.0f,   limit,
                                  limit - 0.001f, 255.0f,   254.999f,  256.0f,  -1e30f,
                                  1e30f,          INFINITY, -INFINITY, NAN,     -NAN,
                                  3e9f,           -3e9f,    1e-40f,    -1e-40f, 0.999f};
    std::uniform_int_distribution<size_t> pick(0, std::size(k_odd) * 8);
    const size_t k = pick(rng);
    if (k < std::size(k_odd))
        return k_odd[k];
    return std::uniform_real_distribution<float>(-20.0f, limit + 20.0f)(rng);
}

// The point path of the board's common modes draws exactly what the general pipeline draws,
// and leaves to it (returns false, drawing nothing) what it does not take.
TEST(Rasterizer, PointPathMatchesThePipeline) {
    RenderState over = flat_state();
    over.rgb_src = GR_BLEND_SRC_ALPHA;
    over.rgb_dst = GR_BLEND_ONE_MINUS_SRC_ALPHA;
    const RenderState states[] = {flat_state(), over, counting_state()};
    std::mt19937 rng(77);
    for (const RenderState& st : states) {
        for (bool lower_left : {false, true}) {
            Canvas path(24, 12, lower_left, 0x80402010u), general(24, 12, lower_left, 0x80402010u);
            PointPath points;
            const int rows = lower_left ? 12 : 7; // all, or the first rows only
            points.arm(path.target, point_mode(st), rows);
            int taken = 0;
            for (int i = 0; i < 4000; ++i) {
                GrVertex v = vertex(awkward_value(rng, 24.0f), awkward_value(rng, 12.0f),
                                    awkward_value(rng, 255.0f), awkward_value(rng, 255.0f),
                                    awkward_value(rng, 255.0f), awkward_value(rng, 255.0f));
                const std::vector<uint32_t> before = path.pixels;
                if (points.draw(v)) {
                    ++taken;
                    ASSERT_LT(v.y, float(rows)) << "point " << i << " on a row not open";
                } else
                    ASSERT_EQ(path.pixels, before) << "point " << i << " drawn and refused";
                if (path.pixels == before)
                    draw_point(path.target, st, nullptr, v);
                draw_point(general.target, st, nullptr, v);
                ASSERT_EQ(path.pixels, general.pixels)
                    << "point " << i << " at " << v.x << ", " << v.y << " colour " << v.r << " "
                    << v.g << " " << v.b << " " << v.a;
            }
            if (point_mode(st) == PointMode::Pipeline)
                EXPECT_EQ(taken, 0);
            else
                EXPECT_GT(taken, 10);
        }
    }
    PointPath shut;
    Canvas c(2, 2);
    shut.arm(c.target, PointMode::Replace, 2);
    shut.shut();
    EXPECT_FALSE(shut.draw(vertex(1, 1)));
}

TEST(Rasterizer, LineDrawsBothEndsWithInterpolatedColour) {
    Canvas c(8, 5);
    draw_line(c.target, flat_state(), nullptr, vertex(1.2f, 1.7f, 255, 0, 0),
              vertex(6.5f, 3.0f, 0, 0, 255));
    EXPECT_EQ(c.at(1, 1), 0xFFFF0000u);
    EXPECT_EQ(c.at(6, 3), 0xFF0000FFu);
    int lit = 0;
    for (int x = 0; x < 8; ++x) {
        int in_column = 0;
        for (int y = 0; y < 5; ++y) {
            if (c.at(x, y) == 0)
                continue;
            ++in_column;
            int k = x - 1; // step along the major axis, 5 steps in all
            uint32_t red = (c.at(x, y) >> 16) & 0xFF, blue = c.at(x, y) & 0xFF;
            EXPECT_EQ(red, uint32_t(std::lround(255.0 * (5 - k) / 5))) << "x " << x;
            EXPECT_EQ(blue, uint32_t(std::lround(255.0 * k / 5))) << "x " << x;
        }
        EXPECT_EQ(in_column, x >= 1 && x <= 6 ? 1 : 0) << "x " << x;
        lit += in_column;
    }
    EXPECT_EQ(lit, 6);
}

// The level of a channel at step k of `steps`: ca + (cb - ca) k / steps rounded half away
// from zero, held to [0, 255], NaN as 0.
uint32_t line_level(float ca, float cb, int k, int steps) {
    const double v = ca + (cb - ca) * (steps ? double(k) / steps : 0.0);
    if (std::isnan(v))
        return 0;
    return uint32_t(std::clamp(std::copysign(std::floor(std::fabs(v) + 0.5), v), 0.0, 255.0));
}

// Lines of every length up to past the colour chunk, with ordinary and odd colour ends (huge,
// infinite, NaN), inside the canvas and partly off it: each pixel has its step's levels.
TEST(Rasterizer, LineColoursAreTheRoundedLevelOfEachStep) {
    std::mt19937 rng(5);
    const int lengths[] = {1, 2, 3, 17, 255, 256, 257, 300, 700};
    for (int length : lengths) {
        for (int trial = 0; trial < 6; ++trial) {
            float ca[4], cb[4];
            for (int c = 0; c < 4; ++c) {
                ca[c] = awkward_value(rng, 255.0f);
                cb[c] = trial == 0 ? ca[c] : awkward_value(rng, 255.0f);
            }
            // From right to left along row 1 (y 1.5), so step k is at x = length - 1 - k; every
            // other line ends off the canvas, which takes the checked walk.
            const int beyond = trial % 2 == 1 ? 4 : 0;
            Canvas canvas(720, 3);
            draw_line(canvas.target, flat_state(), nullptr,
                      vertex(float(length) - 0.5f, 1.5f, ca[1], ca[2], ca[3], ca[0]),
                      vertex(0.5f - float(beyond), 1.5f, cb[1], cb[2], cb[3], cb[0]));
            const int steps = length - 1 + beyond;
            for (int k = 0; k < length; ++k) {
                uint32_t expected = 0;
                for (int c = 0; c < 4; ++c)
                    expected |= line_level(ca[c], cb[c], k, steps) << (24 - 8 * c);
                ASSERT_EQ(canvas.at(length - 1 - k, 1), expected)
                    << "length " << length << " trial " << trial << " step " << k;
            }
        }
    }
}

// Every line kernel the machine runs gives each step's fraction and level, with ordinary, odd
// and half-level colour ends, chunks starting anywhere and of any length (the vector tails too).
TEST(Rasterizer, LineKernelsGiveTheRoundedLevelOfEachStep) {
    std::mt19937 rng(11);
    for (LineKernel kind : {LineKernel::Baseline, LineKernel::Avx2}) {
        const LineKernels* kernels = line_kernels(kind);
        if (!kernels)
            continue;
        for (int trial = 0; trial < 400; ++trial) {
            const int steps = int(rng() % 1000), first = int(rng() % unsigned(steps + 1));
            const int count = 1 + int(rng() % unsigned(std::min(256, steps + 1 - first)));
            // Ends on a half level every third trial: ties at the first steps.
            auto end = [&] {
                return trial % 3 ? awkward_value(rng, 255.0f) : float(rng() % 256) + 0.5f;
            };
            const float ca = end(), cb = end();
            double f[256];
            uint8_t levels[256];
            kernels->fractions(f, first, count, steps);
            kernels->levels(levels, ca, cb, f, count);
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(f[i], steps ? double(first + i) / steps : 0.0) << "step " << first + i;
                ASSERT_EQ(levels[i], line_level(ca, cb, first + i, steps))
                    << "kernel " << int(kind) << " from " << ca << " to " << cb << " step "
                    << first + i << " of " << steps;
            }
        }
    }
}

TEST(Rasterizer, LineUnderLowerLeftOriginCountsRowsFromTheBottom) {
    Canvas c(4, 4, true);
    draw_line(c.target, flat_state(), nullptr, vertex(0, 0, 1, 0, 0), vertex(0, 3, 1, 0, 0));
    draw_line(c.target, flat_state(), nullptr, vertex(1, 0, 2, 0, 0), vertex(3, 0, 2, 0, 0));
    EXPECT_EQ(c.red_map(), "1...\n1...\n1...\n1222\n");
}

TEST(Rasterizer, TriangleCoversPixelCentresWithTopLeftRule) {
    // Edges through pixel centres: x = 0.5 and y = 0.5 (left, top) take their pixels,
    // x = 3.5 and y = 2.5 (right, bottom) do not.
    Canvas c(5, 4);
    quad(c.target, counting_state(), nullptr, vertex(0.5f, 0.5f, 1, 0, 0),
         vertex(3.5f, 0.5f, 1, 0, 0), vertex(3.5f, 2.5f, 1, 0, 0), vertex(0.5f, 2.5f, 1, 0, 0));
    EXPECT_EQ(c.red_map(), "111..\n111..\n.....\n.....\n");
}

TEST(Rasterizer, TopLeftRuleFollowsTheScreenUnderLowerLeftOrigin) {
    // With y counted upward, y = 2.5 is the top edge on the screen and y = 0.5 the bottom.
    Canvas c(3, 4, true);
    quad(c.target, counting_state(), nullptr, vertex(0.5f, 0.5f, 1, 0, 0),
         vertex(2.5f, 0.5f, 1, 0, 0), vertex(2.5f, 2.5f, 1, 0, 0), vertex(0.5f, 2.5f, 1, 0, 0));
    EXPECT_EQ(c.red_map(), "...\n11.\n11.\n...\n");
}

TEST(Rasterizer, WindingDoesNotMatterAndDegenerateTrianglesDrawNothing) {
    Canvas a(6, 6), b(6, 6);
    RenderState st = counting_state();
    GrVertex p = vertex(0.3f, 0.2f, 1, 0, 0), q = vertex(5.7f, 1.4f, 1, 0, 0),
             r = vertex(2.2f, 5.9f, 1, 0, 0);
    draw_triangle(a.target, st, nullptr, p, q, r);
    draw_triangle(b.target, st, nullptr, p, r, q);
    EXPECT_EQ(a.pixels, b.pixels);
    Canvas empty(6, 6);
    draw_triangle(empty.target, st, nullptr, p, q, p);
    draw_triangle(empty.target, st, nullptr, vertex(0, 0), vertex(2, 2), vertex(4, 4));
    EXPECT_EQ(empty.pixels, std::vector<uint32_t>(36, 0));
}

TEST(Rasterizer, MeshWithSharedEdgesCoversEveryPixelExactlyOnce) {
    // A 4 x 4 grid of cells over a 16 x 16 buffer, inner vertices jittered to half pixels so
    // that many edges run through pixel centres; each cell split along either diagonal.
    std::string all_ones;
    for (int y = 0; y < 16; ++y)
        all_ones += std::string(16, '1') + "\n";
    for (bool lower_left : {false, true}) {
        for (unsigned seed = 1; seed <= 20; ++seed) {
            std::mt19937 rng(seed);
            std::uniform_int_distribution<int> jitter(-2, 2); // cells stay convex
            float gx[5][5], gy[5][5];
            for (int j = 0; j <= 4; ++j)
                for (int i = 0; i <= 4; ++i) {
                    gx[j][i] = float(i * 4) + (i % 4 ? jitter(rng) * 0.5f : 0.0f);
                    gy[j][i] = float(j * 4) + (j % 4 ? jitter(rng) * 0.5f : 0.0f);
                }
            Canvas c(16, 16, lower_left);
            RenderState st = counting_state();
            auto v = [&](int j, int i) { return vertex(gx[j][i], gy[j][i], 1, 0, 0); };
            // Every triangle turns the same way: the mesh has no folds.
            auto turn = [&](int j0, int i0, int j1, int i1, int j2, int i2) {
                return (gx[j1][i1] - gx[j0][i0]) * (gy[j2][i2] - gy[j0][i0]) -
                       (gx[j2][i2] - gx[j0][i0]) * (gy[j1][i1] - gy[j0][i0]);
            };
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) {
                    ASSERT_GT(turn(j, i, j, i + 1, j + 1, i + 1), 0);
                    ASSERT_GT(turn(j, i, j + 1, i + 1, j + 1, i), 0);
                    ASSERT_GT(turn(j, i + 1, j + 1, i + 1, j + 1, i), 0);
                    ASSERT_GT(turn(j, i, j, i + 1, j + 1, i), 0);
                }
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) {
                    if ((i + j + seed) % 2)
                        quad(c.target, st, nullptr, v(j, i), v(j, i + 1), v(j + 1, i + 1),
                             v(j + 1, i));
                    else
                        quad(c.target, st, nullptr, v(j, i + 1), v(j + 1, i + 1), v(j + 1, i),
                             v(j, i));
                }
            EXPECT_EQ(c.red_map(), all_ones)
                << "seed " << seed << (lower_left ? " lower-left" : " upper-left");
        }
    }
}

TEST(Rasterizer, TriangleOutsideTheBufferIsClipped) {
    Canvas c(4, 4);
    draw_triangle(c.target, counting_state(), nullptr, vertex(-100, -100, 1, 0, 0),
                  vertex(200, -100, 1, 0, 0), vertex(-100, 200, 1, 0, 0));
    EXPECT_EQ(c.red_map(), "1111\n1111\n1111\n1111\n");
    Canvas far(4, 4);
    draw_triangle(far.target, counting_state(), nullptr, vertex(1e9f, 0), vertex(0, 1e9f),
                  vertex(NAN, 3));
    EXPECT_EQ(far.red_map(), "....\n....\n....\n....\n");
}

TEST(Rasterizer, GouraudColourAtPixelCentres) {
    // Red grows by 10 per pixel from 0 at x = 0: the centre of pixel i holds 10 i + 5.
    Canvas c(8, 2);
    quad(c.target, flat_state(), nullptr, vertex(0, 0, 0, 0, 0), vertex(8, 0, 80, 0, 0),
         vertex(8, 2, 80, 0, 0), vertex(0, 2, 0, 0, 0));
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ((c.at(x, 1) >> 16) & 0xFF, uint32_t(10 * x + 5)) << x;
}

TEST(Sampler, PointSamplingWrapsOrClamps) {
    // A 2 x 2 level: each texel covers 128 units of s and t.
    std::vector<uint32_t> texels{0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u};
    Texture wrap = make_texture(GR_LOD_2, GR_ASPECT_1x1, texels);
    Texture clamp = make_texture(GR_LOD_2, GR_ASPECT_1x1, texels, GR_TEXTURECLAMP_CLAMP);
    auto at = [](const Texture& t, double s, double tt) {
        return detail::make_sampler(t, GR_LOD_2, false)(int64_t(s * k_unit), int64_t(tt * k_unit)) &
               0xFF;
    };
    EXPECT_EQ(at(wrap, 0, 0), 1u);
    EXPECT_EQ(at(wrap, 127.9, 0), 1u);
    EXPECT_EQ(at(wrap, 128, 0), 2u);
    EXPECT_EQ(at(wrap, 0, 128), 3u);
    EXPECT_EQ(at(wrap, 256, 0), 1u);  // wraps to the first column
    EXPECT_EQ(at(wrap, -1, 0), 2u);   // and back
    EXPECT_EQ(at(clamp, 256, 0), 2u); // stays on the last column
    EXPECT_EQ(at(clamp, -1, 300), 3u);
}

TEST(Sampler, BilinearWeightsBetweenTexelCentres) {
    std::vector<uint32_t> texels{0x10203040u, 0xF0C08060u, 0x00FF0000u, 0xFF00FF08u};
    Texture wrap = make_texture(GR_LOD_2, GR_ASPECT_1x1, texels, GR_TEXTURECLAMP_WRAP,
                                GR_TEXTUREFILTER_BILINEAR);
    Texture clamp = make_texture(GR_LOD_2, GR_ASPECT_1x1, texels, GR_TEXTURECLAMP_CLAMP,
                                 GR_TEXTUREFILTER_BILINEAR);
    // Reference: the four texels weighted by the fractions, rounded half up per channel.
    auto expect = [&](double fx, double fy, int x0, int y0, int x1, int y1) {
        uint32_t out = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            auto c = [&](int x, int y) { return double((texels[y * 2 + x] >> shift) & 0xFF); };
            double v = c(x0, y0) * (1 - fx) * (1 - fy) + c(x1, y0) * fx * (1 - fy) +
                       c(x0, y1) * (1 - fx) * fy + c(x1, y1) * fx * fy;
            out |= uint32_t(std::floor(v + 0.5)) << shift;
        }
        return out;
    };
    auto at = [](const Texture& t, double s, double tt) {
        return detail::make_sampler(t, GR_LOD_2, true)(int64_t(s * k_unit), int64_t(tt * k_unit));
    };
    EXPECT_EQ(at(wrap, 64, 64), texels[0]); // texel centres are exact
    EXPECT_EQ(at(wrap, 192, 192), texels[3]);
    EXPECT_EQ(at(wrap, 128, 64), expect(0.5, 0, 0, 0, 1, 0));
    EXPECT_EQ(at(wrap, 96, 160), expect(0.25, 0.75, 0, 0, 1, 1));
    EXPECT_EQ(at(wrap, 80, 112), expect(0.125, 0.375, 0, 0, 1, 1));
    // Left of the first centre: wrap blends with the last column, clamp repeats the first.
    EXPECT_EQ(at(wrap, 32, 64), expect(0.75, 0, 1, 0, 0, 0));
    EXPECT_EQ(at(clamp, 32, 64), texels[0]);
    EXPECT_EQ(at(clamp, 224, 224), texels[3]);
}

TEST(Sampler, NonSquareLevelUsesTheLongSideScale) {
    // 4 x 2 (aspect 2x1, level 4): s spans 0..256 across 4 texels, t 0..128 across 2.
    std::vector<uint32_t> texels(8);
    for (uint32_t i = 0; i < 8; ++i)
        texels[i] = 0xFF000000u | i;
    Texture t = make_texture(GR_LOD_4, GR_ASPECT_2x1, texels);
    EXPECT_EQ(detail::make_sampler(t, GR_LOD_4, false)(200 * k_unit, 70 * k_unit) & 0xFF, 7u);
    EXPECT_EQ(detail::make_sampler(t, GR_LOD_4, false)(70 * k_unit, 10 * k_unit) & 0xFF, 1u);
}

TEST(Rasterizer, TexturedQuadMapsTexelsToPixels) {
    // 4 x 4 texture over a 4 x 4 quad, point sampled: each pixel shows its own texel.
    std::vector<uint32_t> texels(16);
    for (uint32_t i = 0; i < 16; ++i)
        texels[i] = 0xFF000000u | i << 16;
    Texture t = make_texture(GR_LOD_4, GR_ASPECT_1x1, texels);
    for (bool lower_left : {false, true}) {
        Canvas c(4, 4, lower_left);
        // t = 0 on the first screen row in both origins.
        float top = lower_left ? 4.0f : 0.0f, bottom = lower_left ? 0.0f : 4.0f;
        quad(c.target, texture_state(), &t, textured(0, top, 0, 0), textured(4, top, 256, 0),
             textured(4, bottom, 256, 256), textured(0, bottom, 0, 256));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(c.at(x, y), texels[size_t(y * 4 + x)]) << x << "," << y;
    }
}

TEST(Rasterizer, PerspectiveDividesByW) {
    // A 256-texel ramp; the right end is four times as far: s = (s/w) / (1/w) per pixel.
    std::vector<uint32_t> texels(256 * 256);
    for (uint32_t i = 0; i < texels.size(); ++i)
        texels[i] = 0xFF000000u | (i & 255);
    Texture t = make_texture(GR_LOD_256, GR_ASPECT_1x1, texels);
    Canvas c(64, 1);
    quad(c.target, texture_state(), &t, textured(0, 0, 0, 0, 1.0f), textured(64, 0, 256, 0, 0.25f),
         textured(64, 1, 256, 0, 0.25f), textured(0, 1, 0, 0, 1.0f));
    for (int x = 0; x < 64; x += 7) {
        double f = (x + 0.5) / 64;
        double s = (256 * 0.25 * f) / (1.0 * (1 - f) + 0.25 * f);
        EXPECT_NEAR(double(c.at(x, 0) & 0xFF), std::floor(s), 1.0) << x;
    }
    EXPECT_LT(c.at(32, 0) & 0xFF, 64u); // the affine middle would be 128
}

TEST(Rasterizer, MipmapLevelFollowsTheTexelStep) {
    // 64 x 64 texture whose levels are flat 10, 20, 30, ...; a 16 x 16 quad over all of it
    // shows four texels of the 64 level per pixel: the 16 level (third) with mipmapping.
    TextureMemory memory;
    TextureRequest r;
    r.width = r.height = 64;
    r.format = GR_TEXFMT_INTENSITY_8;
    r.large_lod = GR_LOD_64;
    r.small_lod = GR_LOD_1;
    r.mipmap_mode = GR_MIPMAP_NEAREST;
    r.minify = r.magnify = GR_TEXTUREFILTER_POINT_SAMPLED;
    std::vector<uint8_t> texels;
    for (int lod = GR_LOD_64, n = 1; lod <= GR_LOD_1; ++lod, ++n)
        texels.insert(texels.end(), size_t(1) << (2 * (GR_LOD_1 - lod)), uint8_t(10 * n));
    GrMipMapId_t id = memory.allocate(r);
    ASSERT_TRUE(memory.download(id, texels.data(), nullptr));
    r.mipmap_mode = GR_MIPMAP_DISABLE;
    GrMipMapId_t flat = memory.allocate(r);
    ASSERT_TRUE(memory.download(flat, texels.data(), nullptr));
    for (auto [handle, expected] : {std::pair{id, 30u}, std::pair{flat, 10u}}) {
        Canvas c(16, 16);
        quad(c.target, texture_state(), memory.find(handle), textured(0, 0, 0, 0),
             textured(16, 0, 256, 0), textured(16, 16, 256, 256), textured(0, 16, 0, 256));
        EXPECT_EQ(c.at(7, 7) & 0xFF, expected);
    } // A NaN step (coordinates or bias from the program) takes the largest level.
    const float nan = std::nanf("");
    r.mipmap_mode = GR_MIPMAP_NEAREST;
    r.lod_bias = nan;
    GrMipMapId_t biased = memory.allocate(r);
    ASSERT_TRUE(memory.download(biased, texels.data(), nullptr));
    for (auto [handle, s_far] : {std::pair{id, nan}, std::pair{biased, 256.0f}}) {
        Canvas c(16, 16);
        quad(c.target, texture_state(), memory.find(handle), textured(0, 0, 0, 0),
             textured(16, 0, s_far, 0), textured(16, 16, 256, 256), textured(0, 16, 0, 256));
        EXPECT_EQ(c.at(15, 0) & 0xFF, 10u) << handle; // in the first triangle
    }
}

TEST(Rasterizer, SourceAlphaBlendingMixesWithTheBuffer) {
    RenderState st = flat_state();
    st.rgb_src = GR_BLEND_SRC_ALPHA;
    st.rgb_dst = GR_BLEND_ONE_MINUS_SRC_ALPHA;
    Canvas c(2, 1, false, 0xFFFFFFFFu);
    draw_point(c.target, st, nullptr, vertex(0, 0, 255, 0, 0, 128));
    draw_point(c.target, st, nullptr, vertex(1, 0, 255, 0, 0, 255));
    EXPECT_EQ(c.at(0, 0), 0x80FF7F7Fu); // 128/255 red over white, alpha written as it is
    EXPECT_EQ(c.at(1, 0), 0xFFFF0000u); // opaque
}

TEST(Rasterizer, AlphaTestDropsFailingPixels) {
    RenderState st = flat_state();
    st.alpha_test = GR_CMP_GREATER;
    st.alpha_ref = 100;
    Canvas c(2, 1);
    draw_point(c.target, st, nullptr, vertex(0, 0, 255, 0, 0, 100));
    draw_point(c.target, st, nullptr, vertex(1, 0, 255, 0, 0, 101));
    EXPECT_EQ(c.at(0, 0), 0u);
    EXPECT_EQ(c.at(1, 0), 0x65FF0000u);
}

TEST(Rasterizer, TextureTimesVertexColour) {
    Texture t = make_texture(GR_LOD_1, GR_ASPECT_1x1, {0xFF8040FFu});
    RenderState st = flat_state();
    color_combine_preset(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB, st.color);
    Canvas c(1, 1);
    GrVertex v = textured(0, 0, 0, 0);
    v.r = 255;
    v.g = 128;
    v.b = 0;
    draw_point(c.target, st, &t, v);
    EXPECT_EQ(c.at(0, 0), 0xFF802000u);
}

TEST(Rasterizer, FastSpansMatchThePixelPipeline) {
    // The texel as it is, once through the fast spans and once through the whole pipeline (a
    // combine of the same result: texel * 1 + a zero constant), for wrapping and clamping,
    // both filters, spans of constant and of changing t, coordinates far outside the texture,
    // magnified and minified, with constant and with changing alpha.
    std::mt19937 rng(7);
    std::vector<uint32_t> texels(64 * 64);
    for (uint32_t& texel : texels)
        texel = rng() | 0xFF000000u;
    RenderState fast = texture_state();
    RenderState slow = fast;
    slow.color = {GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL, GR_COMBINE_FACTOR_ONE,
                  GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, 0};
    slow.constant_color = 0;
    std::uniform_real_distribution<float> offset(-300.0f, 300.0f), scale(0.3f, 3.0f);
    for (GrTextureClampMode_t clamp : {GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_CLAMP})
        for (GrTextureFilterMode_t filter :
             {GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_POINT_SAMPLED})
            for (int round = 0; round < 12; ++round) {
                Texture t = make_texture(GR_LOD_64, GR_ASPECT_1x1, texels, clamp, filter);
                const float s0 = offset(rng), t0 = offset(rng), k = scale(rng);
                const float skew = round % 3 == 0 ? 17.0f : 0.0f; // t changing along a row
                const float a1 = round % 4 == 1 ? 100.0f : 255.0f;
                GrVertex v[4] = {textured(0, 0, s0, t0), textured(50, 0, s0 + 50 * k, t0 + skew),
                                 textured(50, 30, s0 + 50 * k, t0 + skew + 30 * k),
                                 textured(0, 30, s0, t0 + 30 * k)};
                v[2].a = a1;
                Canvas with_fast(50, 30), with_pipeline(50, 30);
                quad(with_fast.target, fast, &t, v[0], v[1], v[2], v[3]);
                quad(with_pipeline.target, slow, &t, v[0], v[1], v[2], v[3]);
                ASSERT_EQ(with_fast.pixels, with_pipeline.pixels)
                    << "clamp " << clamp << ", filter " << filter << ", round " << round;
            }
}

TEST(Rasterizer, LineColoursRoundHalfAwayFromZeroLikeTheLibrary) {
    // 511 pixels from level 0 to 255 meet every half level; alpha runs beyond both ends of the
    // range and blue stays put.
    Canvas c(511, 1);
    RenderState st = flat_state();
    draw_line(c.target, st, nullptr, vertex(0, 0, 0, 255, 10, -3.5f),
              vertex(510, 0, 255, 0, 10, 300.5f));
    auto level = [](float a, float b, int k) {
        long v = std::lround(a + (b - a) * (double(k) / 510));
        return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v);
    };
    for (int k = 0; k <= 510; ++k) {
        const uint32_t want =
            level(-3.5f, 300.5f, k) << 24 | level(0, 255, k) << 16 | level(255, 0, k) << 8 | 10u;
        ASSERT_EQ(c.at(k, 0), want) << "pixel " << k;
    }
}
