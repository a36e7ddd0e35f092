// What a test, the desktop bus or a display backend does to the program from outside, as a
// user or the window manager would: keyboard input, window lookups and pictures.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/image.h"

namespace win32::harness {

// Keyboard input as real input: the message arrives through the queue as WM_KEYDOWN or
// WM_KEYUP (WM_SYSKEYDOWN/UP with Alt held, for Alt itself and for F10), a key-down of a key
// already down is an auto-repeat, and GetKeyState follows as the messages are read. The
// target is the given window or the focus window; false when there is none.
bool inject_key(UINT vk, bool down, HWND target = nullptr);

// A key-down then a key-up.
bool press_key(UINT vk, HWND target = nullptr);

// Called each time PeekMessageA finds nothing to retrieve, with a count from 0; tests inject
// input from it at chosen moments of a frame loop. Null removes the hook.
void set_idle_hook(std::function<void(int)> hook);

// The process's top-level windows in creation order, and a lookup by class and/or title.
std::vector<HWND> windows();
HWND find_window(const char* class_name, const char* title);
std::string window_class(HWND hwnd);

// The client area of a window as it was last painted.
platform::Image window_image(HWND hwnd);

// "arrow", "wait", or "" for no cursor.
std::string cursor_name(HCURSOR cursor);

// Destroys nothing and sends nothing: forgets every window, class, registered message and
// queued message of the process, so the next test starts clean.
void reset();

} // namespace win32::harness
