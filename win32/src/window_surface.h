// The seam between the window manager (USER) and GDI: a window's client area as pixels, and
// the device contexts that paint into it.
#pragma once

#include <windows.h>

#include "platform/image.h"

namespace win32 {

// The client area of a top-level window as 0x00RRGGBB pixels, sized to its client rectangle;
// nullptr for a handle that is not a window. Owned by the window manager.
platform::Image* window_surface(HWND hwnd);

// Tells the display that the window's surface has new pixels.
void window_surface_changed(HWND hwnd);

namespace gdi {

// A device context that draws into the window's client surface, with its visible region
// limited to `visible` (client coordinates). Used by BeginPaint and GetDC.
HDC open_window_dc(HWND hwnd, const RECT& visible);

// Releases a context made by open_window_dc; returns false for any other handle.
bool close_window_dc(HDC dc);

// Fills a rectangle of a window's surface with the colour of a brush (class background).
void fill_window_rect(HWND hwnd, const RECT& rect, HBRUSH brush);

} // namespace gdi
} // namespace win32
