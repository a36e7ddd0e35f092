// Placeholder until bitmap painting is built.
#include "dib.h"

void PaintBitmap(HWND window, HDC dc, int x, int y) {
    SetWindowOrgEx(dc, x, y, NULL);
    SetBkMode(dc, TRANSPARENT);
}
