// The board's screen on Windows: a window of its own, owned by a thread of the board, that
// shows the front buffer through the gamma tables while a program has the board open.
#pragma once

#include <windows.h>

namespace board {

// Starts the screen's thread; called once when the library is loaded. The window itself is
// made when the board is first opened.
void start_screen(HINSTANCE instance);

} // namespace board
