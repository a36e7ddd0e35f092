// The board's tile-binned back end: the same pictures, bit for bit, whatever the number of
// threads, for the program's three frames and for a frame that mixes everything the recorder
// must order (blending across bands, both buffers, writes, texture changes, points drawn while
// the workers draw); and its threads
// through shutdown, reopening and fork.
#include "board.h"
#include "board_harness.h"
#include "board_scenes.h"
#include "child.h"
#include "glide.h"
#include "platform/image.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

using Frame = std::function<void()>;

// The screen after drawing a frame and swapping, on a board opened with `threads`.
std::vector<uint32_t> render(int threads, GrColorFormat_t format, GrOriginLocation_t origin,
                             const Frame& frame) {
    setenv("WINTEST_BOARD_THREADS", std::to_string(threads).c_str(), 1);
    std::vector<uint32_t> pixels;
    if (board_scenes::open_board(format, origin)) {
        EXPECT_EQ(board::Board::the().threads(), threads);
        frame();
        grBufferSwap(0);
        pixels = board::screen_image().pixels;
    }
    grGlideShutdown();
    unsetenv("WINTEST_BOARD_THREADS");
    return pixels;
}

// The first pixel index where two pictures differ, or -1.
long first_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i])
            return long(i);
    return a.size() == b.size() ? -1 : long(std::min(a.size(), b.size()));
}

// Renders with 1, 2 and 4 threads (and 3, an odd share of bands) and requires one picture.
void expect_same_with_any_threads(GrColorFormat_t format, GrOriginLocation_t origin,
                                  const Frame& frame) {
    const std::vector<uint32_t> one = render(1, format, origin, frame);
    ASSERT_EQ(one.size(), size_t(640 * 480));
    for (int threads : {2, 3, 4}) {
        const long at = first_difference(one, render(threads, format, origin, frame));
        EXPECT_EQ(at, -1) << threads << " threads differ at (" << at % 640 << ", " << at / 640
                          << ")";
    }
}

size_t distinct_colours(const std::vector<uint32_t>& pixels) {
    return std::unordered_set<uint32_t>(pixels.begin(), pixels.end()).size();
}

TEST(BoardThreads, TheThreeTestsFramesAreTheSameWithAnyThreadCount) {
    const Frame glide = [] { board_scenes::glide_frame(board_scenes::load_sample_texture()); };
    const Frame gamma = [] { board_scenes::gamma_frame(board_scenes::load_sample_texture()); };
    const board_scenes::TvScene scene = board_scenes::tv_scene();
    const Frame tv = [&] { board_scenes::tv_frame(scene); };
    // The pictures are not empty: a texture, bands or lines were drawn.
    EXPECT_GT(distinct_colours(render(2, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, glide)), 100u);
    expect_same_with_any_threads(GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, glide);
    expect_same_with_any_threads(GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, gamma);
    expect_same_with_any_threads(GR_COLORFORMAT_ARGB, GR_ORIGIN_UPPER_LEFT, tv);
}

GrVertex random_vertex(std::mt19937& rng) {
    std::uniform_real_distribution<float> x(-40.0f, 680.0f), y(-40.0f, 520.0f), c(0.0f, 255.0f);
    GrVertex v = board_scenes::corner(x(rng), y(rng), c(rng), c(rng));
    v.r = c(rng);
    v.g = c(rng);
    v.b = c(rng);
    v.a = c(rng);
    return v;
}

// Blended and textured triangles and lines across bands, a clear in the middle, drawing into
// the front buffer, a frame buffer write and a texture download between recorded calls.
void mixed_frame() {
    std::mt19937 rng(1234);
    GrMipMapId_t texture = board_scenes::load_sample_texture();
    guTexSource(texture);
    grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE,
                         GR_BLEND_ZERO);
    grBufferClear(0x00203040u, 0x80, 0);
    for (int i = 0; i < 200; ++i) {
        if (i % 3 == 0)
            grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL,
                           GR_COMBINE_LOCAL_ITERATED, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
        else
            guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
        GrVertex a = random_vertex(rng), b = random_vertex(rng), c = random_vertex(rng);
        grDrawTriangle(&a, &b, &c);
        grDrawLine(&a, &c);
        if (i == 60)
            grBufferClear(0x00102030u, 0xFF, 0);
        if (i == 90) {
            grRenderBuffer(GR_BUFFER_FRONTBUFFER);
            grDrawTriangle(&b, &a, &c);
            grRenderBuffer(GR_BUFFER_BACKBUFFER);
        }
        if (i == 120) {
            const uint32_t block[4] = {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFFFFu};
            grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 300, 200, GR_LFB_SRC_FMT_888, 2, 2, 8, block);
        }
        if (i == 150)
            texture = board_scenes::load_sample_texture(); // texture memory grows
        if (i % 50 == 0) {
            GrVertex p = random_vertex(rng);
            grDrawPoint(&p);
        }
    }
}

// Points drawn while the workers draw what was recorded before them: rows upwards, downwards
// and at random, off the screen, opaque and not, a blended point between, and recorded
// drawing again after them (which must wait for the flush in flight).
void points_in_flight_frame() {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> x(-8.0f, 648.0f), y(-8.0f, 488.0f), c(0.0f, 255.0f);
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    for (int round = 0; round < 3; ++round) {
        grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE,
                             GR_BLEND_ZERO);
        grBufferClear(0x00405060u + uint32_t(round), 0xFF, 0);
        for (int i = 0; i < 12; ++i) {
            GrVertex a = random_vertex(rng), b = random_vertex(rng), d = random_vertex(rng);
            grDrawTriangle(&a, &b, &d);
        }
        grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
        for (int i = 0; i < 4000; ++i) {
            const float row = round == 0   ? float(i % 480)
                              : round == 1 ? float(479 - i % 480)
                                           : y(rng);
            GrVertex p = board_scenes::corner(x(rng), row + 0.5f, c(rng), c(rng));
            p.r = c(rng);
            p.a = i % 3 ? 255.0f : c(rng);
            grDrawPoint(&p);
            if (i == 2500) { // a blended point: the state changes, the path is armed again
                grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE,
                                     GR_BLEND_ZERO);
                grDrawPoint(&p);
                grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
            }
        }
        GrVertex a = random_vertex(rng), b = random_vertex(rng), d = random_vertex(rng);
        grDrawTriangle(&a, &b, &d);
    }
}

TEST(BoardThreads, MixedDrawingIsTheSameWithAnyThreadCountAndOrigin) {
    expect_same_with_any_threads(GR_COLORFORMAT_ARGB, GR_ORIGIN_UPPER_LEFT, mixed_frame);
    expect_same_with_any_threads(GR_COLORFORMAT_ARGB, GR_ORIGIN_LOWER_LEFT, mixed_frame);
}

TEST(BoardThreads, PointsWhileTheFrameIsDrawnAreTheSameWithAnyThreadCountAndOrigin) {
    expect_same_with_any_threads(GR_COLORFORMAT_ARGB, GR_ORIGIN_UPPER_LEFT, points_in_flight_frame);
    expect_same_with_any_threads(GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, points_in_flight_frame);
}

TEST(BoardThreads, WorkersSurviveShutdownReopeningAndFork) {
    setenv("WINTEST_BOARD_THREADS", "4", 1);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(board_scenes::open_board(GR_COLORFORMAT_ARGB, GR_ORIGIN_UPPER_LEFT));
        board_scenes::tv_frame(board_scenes::tv_scene());
        grBufferSwap(0);
        board_scenes::tv_frame(board_scenes::tv_scene()); // recorded, never swapped
        if (round == 1) {
            // A child forked while the workers wait runs and execs normally.
            pid_t pid = fork();
            if (pid == 0) {
                execl("/bin/sh", "sh", "-c", "exit 7", static_cast<char*>(nullptr));
                _exit(1);
            }
            EXPECT_EQ(wt_test::wait_for_exit(pid, std::chrono::seconds(20)), 7);
        }
        if (round == 2) {
            // A child that draws without exec has threads of its own, not its parent's.
            pid_t pid = fork();
            if (pid == 0) {
                board_scenes::glide_frame(board_scenes::load_sample_texture());
                grBufferSwap(0);
                const bool drawn = board::screen_image().at(320, 240) != 0xFFFFFFu;
                grGlideShutdown();
                _exit(drawn ? 9 : 1);
            }
            EXPECT_EQ(wt_test::wait_for_exit(pid, std::chrono::seconds(20)), 9);
        }
        grGlideShutdown();
    }
    unsetenv("WINTEST_BOARD_THREADS");
    // Out-of-range counts fall back to the limits.
    setenv("WINTEST_BOARD_THREADS", "100000", 1);
    EXPECT_EQ(board::board_threads_from_env(), board::DeferredFrame::k_max_threads);
    setenv("WINTEST_BOARD_THREADS", "zero", 1);
    EXPECT_GE(board::board_threads_from_env(), 1);
    unsetenv("WINTEST_BOARD_THREADS");
}

} // namespace
