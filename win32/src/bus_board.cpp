#include "bus_board.h"

#if __has_include("board_harness.h")
#include "board_harness.h"
#define WINTEST_BOARD_HARNESS 1
#endif

namespace win32::bus {

#ifdef WINTEST_BOARD_HARNESS

platform::Image board_picture(bool tv) {
    return tv ? board::tv_image() : board::screen_image();
}

std::optional<uint64_t> board_frame_count() {
    return board::frame_count();
}

#else

platform::Image board_picture(bool) {
    return {};
}

std::optional<uint64_t> board_frame_count() {
    return std::nullopt;
}

#endif

} // namespace win32::bus
