// screen_cycle: opens and closes the board N times (default 20) and checks that its screen
// window is hidden when grGlideShutdown returns, then opens it once more and exits right after
// the shutdown, as a program whose texture cannot be loaded does. Prints one line a check;
// exit code 0 when every check passed, 1 otherwise.
#include "glide.h"
#include "screen_protocol.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The board's screen window once it is shown, or null after 10 seconds.
HWND wait_for_screen() {
    for (int tries = 0; tries < 1000; ++tries) {
        HWND screen = FindWindowA(board::k_screen_class, nullptr);
        if (screen && IsWindowVisible(screen))
            return screen;
        Sleep(10);
    }
    return nullptr;
}

bool open_board() {
    grGlideInit();
    grSstSelect(0);
    return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR,
                        GR_ORIGIN_LOWER_LEFT, 2, 1) != FXFALSE;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    int hidden = 0;
    for (int round = 0; round < rounds; ++round) {
        if (!open_board()) {
            std::printf("round %d: the board does not open\n", round);
            return 1;
        }
        HWND screen = wait_for_screen();
        if (!screen) {
            std::printf("round %d: the screen is not shown\n", round);
            return 1;
        }
        grGlideShutdown();
        hidden += IsWindowVisible(screen) ? 0 : 1;
    }
    std::printf("hidden when the shutdown returned: %d of %d\n", hidden, rounds);
    std::fflush(stdout);
    if (!open_board())
        return 1;
    grGlideShutdown();
    return hidden == rounds ? 0 : 1;
}
