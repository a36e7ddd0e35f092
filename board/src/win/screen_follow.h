// What the board's core asks of its screen on Windows (screen_win32.cpp).
#pragma once

namespace board {

// Called once grGlideShutdown has closed the board: the screen's thread hides its window at
// once and this returns when it has, so a program that exits right after the call never ends
// that thread in the middle of window work. Gives up after five seconds if the thread does not
// answer; does nothing on the screen's own thread or before the screen was started.
void screen_follow_closed_board();

} // namespace board
