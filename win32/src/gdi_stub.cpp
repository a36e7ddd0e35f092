// Placeholder GDI until the real one lands: window device contexts exist but draw nothing.
#include "window_surface.h"

namespace win32::gdi {

HDC open_window_dc(HWND, const RECT&) {
    return reinterpret_cast<HDC>(uintptr_t(0x7000));
}
bool close_window_dc(HDC dc) {
    return dc == reinterpret_cast<HDC>(uintptr_t(0x7000));
}
void fill_window_rect(HWND, const RECT&, HBRUSH) {}

} // namespace win32::gdi

extern "C" {
HGDIOBJ GetStockObject(int object) {
    return reinterpret_cast<HGDIOBJ>(uintptr_t(0x7100 + object));
}
BOOL SetWindowOrgEx(HDC, int, int, LPPOINT) {
    return TRUE;
}
int SetBkMode(HDC, int) {
    return OPAQUE;
}
}
