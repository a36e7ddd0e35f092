// What the board tells the display: the picture its monitor shows and the one a TV set on
// its TV output shows, handed over at the retrace that shows them. The calls cost nothing
// when the display in use shows neither (headless), so the board asks before it builds a
// picture.
#pragma once

#include "platform/image.h"

namespace win32::board_display {

[[nodiscard]] bool wants_screen();
[[nodiscard]] bool wants_tv();
void show_screen(const platform::Image& screen);
void show_tv(const platform::Image& tv);
// The board was shut down: its pictures go away.
void closed();

} // namespace win32::board_display
