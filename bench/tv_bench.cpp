// One field of the TV view for each output and format, from a busy screen picture (fine
// detail and colour everywhere): what a window pays for each field it shows. A field should
// take 2 ms or less on one core.
#include "tv_view.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

platform::Image busy_screen() {
    platform::Image img(640, 480);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            img.at(x, y) = uint32_t(x * 7 + y * 3) * 0x010305u ^ uint32_t((x ^ y) & 1) * 0xFFFFFFu;
    return img;
}

// range(0): output (0 composite, 1 S-video); range(1): format (0 NTSC, 1 PAL).
void BM_TvField(benchmark::State& state) {
    platform::Image screen = busy_screen();
    board::TvRecord tv = board::k_tv_defaults;
    tv[board::k_tv_output] = int32_t(state.range(0));
    tv[board::k_tv_format] = int32_t(state.range(1));
    tv[board::k_tv_flicker] = 3;
    int64_t field = 0;
    for (auto _ : state) {
        platform::Image img = board::render_tv(screen, tv, field++);
        benchmark::DoNotOptimize(img.pixels.data());
    }
    state.SetLabel(std::string(state.range(0) ? "S-video " : "composite ") +
                   (state.range(1) ? "PAL" : "NTSC"));
}

// The window's picture: the new field and the previous one at half its light.
void BM_TvWindowPicture(benchmark::State& state) {
    platform::Image screen = busy_screen();
    board::TvRecord tv = board::k_tv_defaults;
    tv[board::k_tv_format] = int32_t(state.range(0));
    int64_t field = 0;
    for (auto _ : state) {
        platform::Image img = board::render_tv_window(screen, tv, field++);
        benchmark::DoNotOptimize(img.pixels.data());
    }
}

} // namespace

BENCHMARK(BM_TvField)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TvWindowPicture)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
