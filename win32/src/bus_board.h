// What the bus asks of the board of its own process: pictures and the frame count. Kept in one
// place, the one file of the bus that knows the board.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/image.h"

namespace win32::bus {

// The board's screen (tv false) or its TV view; empty when the board has none to give.
platform::Image board_picture(bool tv);

std::optional<uint64_t> board_frame_count();

} // namespace win32::bus
