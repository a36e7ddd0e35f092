// The window manager's side of the desktop bus (bus/include/bus/seams.h): the table through
// which the bus reaches the windows of this process.
#pragma once

#include <windows.h>

namespace win32 {

// Tells the bus of a new top-level window; the first one joins the desktop.
void window_created_for_bus(HWND hwnd);

} // namespace win32
