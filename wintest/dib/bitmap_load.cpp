// Placeholder until bitmap loading is built: no bitmap is ever loaded.
#include "dib.h"

BitmapStateRecord BitmapState;

int LoadBitmapFile(const char* fileName, HWND window) {
    return 0;
}
