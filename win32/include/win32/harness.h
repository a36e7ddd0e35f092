// What the desktop bus or a display backend does to the program from outside, as a user or
// the window manager would: keyboard input and pictures. Tests reach further through
// win32/testing.h (library wt_win32_testing).
#pragma once

#include <windows.h>

#include <string>

#include "platform/image.h"

namespace win32::harness {

// Keyboard input as real input: the message arrives through the queue as WM_KEYDOWN or
// WM_KEYUP (WM_SYSKEYDOWN/UP with Alt held, for Alt itself and for F10), a key-down of a key
// already down is an auto-repeat, and GetKeyState follows as the messages are read. The
// target is the given window or the focus window; false when there is none.
bool inject_key(UINT vk, bool down, HWND target = nullptr);

// The client area of a window as it was last painted.
platform::Image window_image(HWND hwnd);

// "arrow", "wait", or "" for no cursor.
std::string cursor_name(HCURSOR cursor);

} // namespace win32::harness
