// Until the window manager lands: no window has a surface.
#include "window_surface.h"

namespace win32 {
__attribute__((weak)) platform::Image* window_surface(HWND) {
    return nullptr;
}
__attribute__((weak)) void window_surface_changed(HWND) {}
} // namespace win32
