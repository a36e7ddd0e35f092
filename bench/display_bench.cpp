// What showing a picture on the real display costs: the board's monitor at each retrace, and
// a program window repainted from its surface. Needs a display (DISPLAY, SDL2 built in):
//   xvfb-run -s "-screen 0 1920x1200x24" build/bin/display_bench
// WINTEST_FULLSCREEN=1 measures the board's monitor scaled to the whole screen.
#include <benchmark/benchmark.h>

#include <windows.h>

#include "platform/image.h"
#include "bus/seams.h"

#include <cstdlib>

namespace {

bool on_real_display() {
    return bus::board_display()->wants_screen();
}

// A 640 x 480 frame that changes every time, as the board's do.
platform::Image frame(int n) {
    platform::Image image(640, 480);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.at(x, y) = uint32_t((x + n) & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | uint32_t(n);
    return image;
}

void BM_PresentBoardFrame(benchmark::State& state) {
    if (!on_real_display()) {
        state.SkipWithError("no display: run with DISPLAY set (see the top of this file)");
        return;
    }
    platform::Image frames[2] = {frame(0), frame(1)};
    int n = 0;
    for (auto _ : state)
        bus::board_display()->show_screen(frames[n++ & 1]);
}
BENCHMARK(BM_PresentBoardFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);

LRESULT CALLBACK plain_window(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The test window's size with the logo: invalidated, painted (background fill) and shown.
void BM_RepaintProgramWindow(benchmark::State& state) {
    if (!on_real_display()) {
        state.SkipWithError("no display: run with DISPLAY set (see the top of this file)");
        return;
    }
    WNDCLASSA wc{};
    wc.lpfnWndProc = plain_window;
    wc.hbrBackground = HBRUSH(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "BenchWindow";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "BenchWindow", "bench", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0,
                                272, 288, nullptr, nullptr, nullptr, nullptr);
    for (auto _ : state) {
        InvalidateRect(hwnd, nullptr, TRUE);
        UpdateWindow(hwnd);
    }
    DestroyWindow(hwnd);
}
BENCHMARK(BM_RepaintProgramWindow)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    setenv("WINTEST_DISPLAY", "sdl", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
