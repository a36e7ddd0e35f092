// Frames of the three tests on the software board, unthrottled, and the floor: a memset of
// one frame's pixels.
#include "board_harness.h"
#include "board_scenes.h"
#include "glide.h"
#include "gamma/gamma.h"
#include "glide/glide_test.h"
#include "platform/image.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace board_scenes;

// Opens the board with the thread count of the benchmark's argument (0: the default).
bool open_with_threads(benchmark::State& state, GrColorFormat_t format, GrOriginLocation_t origin) {
    if (state.range(0) > 0)
        setenv("WINTEST_BOARD_THREADS", std::to_string(state.range(0)).c_str(), 1);
    else
        unsetenv("WINTEST_BOARD_THREADS");
    return board_scenes::open_board(format, origin);
}

void BM_GlideTestFrame(benchmark::State& state) {
    if (!open_with_threads(state, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT))
        return state.SkipWithError("board busy");
    GrMipMapId_t id = load_sample_texture();
    for (auto _ : state) {
        glide_frame(id);
        grBufferSwap(1);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 640 * 480);
    grGlideShutdown();
}

// The gamma test's frame: the textured left half, then the program's own band pattern of
// 153,600 points.
void BM_GammaTestFrame(benchmark::State& state) {
    if (!open_with_threads(state, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT))
        return state.SkipWithError("board busy");
    GrMipMapId_t id = load_sample_texture();
    for (auto _ : state) {
        gamma_frame(id);
        grBufferSwap(1);
    }
    grGlideShutdown();
}

// The band pattern alone: one point per pixel of the right half.
void BM_GammaBandPoints(benchmark::State& state) {
    if (!open_board(GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT))
        return state.SkipWithError("board busy");
    SetTextureTestState();
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    for (auto _ : state) {
        DrawGammaBands();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 320 * 480);
    grGlideShutdown();
}

void BM_TvTestFrame(benchmark::State& state) {
    if (!open_with_threads(state, GR_COLORFORMAT_ARGB, GR_ORIGIN_UPPER_LEFT))
        return state.SkipWithError("board busy");
    const TvScene scene = tv_scene();
    for (auto _ : state) {
        tv_frame(scene);
        grBufferSwap(1);
    }
    grGlideShutdown();
}

void BM_GammaScanOut(benchmark::State& state) {
    if (!open_board(GR_COLORFORMAT_ARGB, GR_ORIGIN_UPPER_LEFT))
        return state.SkipWithError("board busy");
    grGammaCorrectionKVX(1.7f, 2.2f, 1.3f);
    for (auto _ : state) {
        platform::Image img = board::screen_image();
        benchmark::DoNotOptimize(img.pixels.data());
    }
    grGammaCorrectionKVX(1.0f, 1.0f, 1.0f);
    grGlideShutdown();
}

void BM_MemsetFrame(benchmark::State& state) {
    std::vector<uint32_t> frame(640 * 480);
    uint8_t v = 0;
    for (auto _ : state) {
        std::memset(frame.data(), v++, frame.size() * 4);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_MemsetFrame)->Unit(benchmark::kMicrosecond);
// Argument: the board's threads (0: WINTEST_BOARD_THREADS's default, the number of cores).
BENCHMARK(BM_GlideTestFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_GammaTestFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_GammaBandPoints)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TvTestFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_GammaScanOut)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
