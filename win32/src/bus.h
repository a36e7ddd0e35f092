// The seam between the window manager and the desktop bus that links the processes of a
// prefix. Without a bus these calls reach no other process.
#pragma once

#include <windows.h>

namespace win32::bus {

// Delivers a broadcast to the top-level windows of the other processes on the desktop and
// returns when all have answered or the wait bound ran out; messages sent to this process
// meanwhile are dispatched at once.
void broadcast_to_peers(UINT message, WPARAM wParam, LPARAM lParam);

// Called once a process has top-level windows, so that it joins the desktop.
void window_created(HWND hwnd);

} // namespace win32::bus
