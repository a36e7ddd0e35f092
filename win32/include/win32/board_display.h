// What the board tells the display: the picture its monitor shows and the one a TV set on
// its TV output shows, handed over at the retrace that shows them. The calls cost nothing
// when the display in use shows neither (headless), so the board asks before it builds a
// picture.
#pragma once

#include "platform/image.h"

#include <cstdint>
#include <functional>

namespace win32::board_display {

[[nodiscard]] bool wants_screen();
[[nodiscard]] bool wants_tv();
void show_screen(const platform::Image& screen);
// The TV set's picture during field n (0, 1, 2, ... in the order a set scans them): a window
// shows the fields one after the other, `field_rate` a second, asking for each as it comes.
using TvFields = std::function<platform::Image(int64_t field)>;
void show_tv(TvFields fields, double field_rate);
// The board was shut down: its pictures go away.
void closed();

} // namespace win32::board_display
