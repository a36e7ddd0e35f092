#include "bus_board.h"

#include "board_harness.h"

namespace win32::bus {

platform::Image board_picture(bool tv) {
    return tv ? board::tv_image() : board::screen_image();
}

std::optional<uint64_t> board_frame_count() {
    return board::frame_count();
}

} // namespace win32::bus
