// A clean program between cases run in one process: what WinMain and the bitmap loader leave
// behind is forgotten, so each case starts as a fresh start of the program would.
#pragma once

#include "dib/dib.h"
#include "shell.h"
#include "win32/testing.h"

namespace program_reset {

// No windows, classes, registered messages or queued input; an empty key queue, Shift up,
// and a board that accepts window changes.
inline void shell() {
    win32::testing::reset();
    KeyQueue = {};
    ShiftDown = 0;
    ResizeOk = 1;
}

// shell(), and no bitmap loaded.
inline void bitmap_window() {
    shell();
    FreeBitmap();
    BitmapState = BitmapStateRecord{};
}

} // namespace program_reset
