/*
 * Bitmap loading and window fitting: the module-level bitmap state, loading a DIB file into a
 * palette and a screen-compatible device bitmap, and sizing the test window to the picture.
 * When memory for the whole image is short, an image of uncompressed rows (BI_RGB or
 * BI_BITFIELDS) is still accepted and is painted from its file in bands (bitmap_paint.cpp).
 * Nothing here tells the user anything.
 */
#include "dib.h"
#include "shell.h"

#include <stdio.h>
#include <string.h>

/* The loaded bitmap. Filled by LoadBitmapFile, emptied by FreeBitmap, read by the painter;
 * SetBitmapScrollRanges keeps its re-entry guard here too. */
BitmapStateRecord BitmapState;

/* The style that sizes the window: the same 32-bit value the window gets as its extended
 * style (WS_EX_APPWINDOW), read here as WS_THICKFRAME alone. */
#define FIT_STYLE 0x40000L

/* Rows of an image, whichever way they are stored. */
static LONG ImageRows(const BITMAPINFOHEADER* info) {
    return info->biHeight < 0 ? -info->biHeight : info->biHeight;
}

/***********************************************************************
 *           FreeBitmap
 *
 * Deletes the palette and the device bitmap and frees the blocks, then clears the state. The
 * file name, the bits offset and the recorded size stay.
 */
void FreeBitmap(void) {
    if (BitmapState.BitmapPalette != NULL)
        DeleteObject(BitmapState.BitmapPalette);
    if (BitmapState.BitmapDeviceBitmap != NULL)
        DeleteObject(BitmapState.BitmapDeviceBitmap);
    if (BitmapState.BitmapImageBlock != NULL)
        GlobalFree(BitmapState.BitmapImageBlock);
    if (BitmapState.BitmapHeaderBlock != NULL &&
        BitmapState.BitmapHeaderBlock != BitmapState.BitmapImageBlock)
        GlobalFree(BitmapState.BitmapHeaderBlock);
    BitmapState.BitmapColorsAreIndices = FALSE;
    BitmapState.BitmapValid = FALSE;
    BitmapState.BitmapPalette = NULL;
    BitmapState.BitmapImageBlock = NULL;
    BitmapState.BitmapDeviceBitmap = NULL;
    BitmapState.BitmapHeaderBlock = NULL;
}

/***********************************************************************
 *           CreateDeviceBitmap
 *
 * Makes a screen-compatible device bitmap from a full DibBlock, with the palette (if any)
 * realised on the screen. Shows the wait cursor meanwhile. Returns NULL without a block (the
 * wait cursor then stays until the caller restores its own) or when creation fails.
 */
HBITMAP CreateDeviceBitmap(HGLOBAL dib, HPALETTE palette) {
    HCURSOR keptCursor;
    BITMAPINFOHEADER* info;
    HPALETTE oldPalette = NULL;
    HBITMAP bitmap;
    HDC screen;

    keptCursor = SetCursor(LoadCursorA(NULL, IDC_WAIT));
    if (dib == NULL)
        return NULL;
    info = (BITMAPINFOHEADER*)GlobalLock(dib);
    if (info == NULL)
        return NULL;

    screen = GetDC(NULL);
    if (palette != NULL) {
        oldPalette = SelectPalette(screen, palette, FALSE);
        RealizePalette(screen);
    }
    bitmap =
        CreateDIBitmap(screen, info, CBM_INIT, (BYTE*)info + info->biSize + DibColorTableSize(info),
                       (BITMAPINFO*)info, DIB_RGB_COLORS);
    if (oldPalette != NULL)
        SelectPalette(screen, oldPalette, FALSE);
    ReleaseDC(NULL, screen);
    GlobalUnlock(dib);
    SetCursor(keptCursor);
    return bitmap;
}

/***********************************************************************
 *           GetFullClientRect
 *
 * Fills `rect` with the window's client rectangle as it would be without its scroll bars.
 */
void GetFullClientRect(HWND window, RECT* rect) {
    LONG style;

    GetClientRect(window, rect);
    style = GetWindowLongA(window, GWL_STYLE);
    if (style & WS_HSCROLL)
        rect->bottom += GetSystemMetrics(SM_CYHSCROLL);
    if (style & WS_VSCROLL)
        rect->right += GetSystemMetrics(SM_CXVSCROLL);
}

/***********************************************************************
 *           SetBitmapScrollRanges
 *
 * Sets the scroll ranges so that the whole bitmap can be scrolled into a client area smaller
 * than it. Two passes: the second measures the client area again once scroll bars have
 * appeared. A position beyond its new range invalidates the window. A call made while
 * another one runs (through the WM_SIZE of a scroll bar appearing) returns at once.
 */
void SetBitmapScrollRanges(HWND window) {
    RECT client;
    int width, height, maxX, maxY, pass;

    if (BitmapState.ScrollRangeDepth != 0)
        return;
    BitmapState.ScrollRangeDepth++;

    GetFullClientRect(window, &client);
    width = client.right - client.left;
    height = client.bottom - client.top;
    for (pass = 0; pass < 2; pass++) {
        maxY = (SHORT)BitmapState.BitmapHeight - height;
        maxX = (SHORT)BitmapState.BitmapWidth - width;
        if (maxY < 0)
            maxY = 0;
        if (maxX < 0)
            maxX = 0;
        if (GetScrollPos(window, SB_VERT) > maxY || GetScrollPos(window, SB_HORZ) > maxX)
            InvalidateRect(window, NULL, TRUE);
        SetScrollRange(window, SB_VERT, 0, maxY, TRUE);
        SetScrollRange(window, SB_HORZ, 0, maxX, TRUE);
        GetClientRect(window, &client);
        width = client.right - client.left;
        height = client.bottom - client.top;
    }

    BitmapState.ScrollRangeDepth--;
}

/***********************************************************************
 *           FitWindowToBitmap
 *
 * Records the bitmap's size and sizes the window so that its client area holds the picture
 * (plus one pixel each way), without moving it; a maximised window keeps its size and gets
 * scroll ranges instead. The window keeps the title of the mode. Invalidates the window.
 */
void FitWindowToBitmap(HWND window) {
    BITMAPINFOHEADER info;
    char title[128];
    RECT rect;

    GetDibInfo(BitmapState.BitmapHeaderBlock, &info);
    snprintf(title, sizeof(title), "%s", WindowTitle);
    SetWindowTextA(window, title);

    BitmapState.BitmapWidth = LOWORD(info.biWidth);
    BitmapState.BitmapHeight = LOWORD(ImageRows(&info));

    if (IsZoomed(window)) {
        SetBitmapScrollRanges(window);
    } else {
        rect.left = 0;
        rect.top = 0;
        rect.right = BitmapState.BitmapWidth;
        rect.bottom = BitmapState.BitmapHeight;
        AdjustWindowRect(&rect, FIT_STYLE, TRUE);
        SetWindowPos(window, NULL, 0, 0, rect.right - rect.left + 1, rect.bottom - rect.top + 1,
                     SWP_NOMOVE | SWP_NOZORDER);
    }
    InvalidateRect(window, NULL, TRUE);
}

/***********************************************************************
 *           UsePaletteIndices
 *
 * Overwrites the first biClrUsed 16-bit words of the header block's colour table with 0, 1,
 * 2, ... so that entry i names palette entry i (DIB_PAL_COLORS), never more words than the
 * table has entries. Not for bit-field images: their first three entries are the channel
 * masks that every later use of the header block (a banded paint) decodes the rows with.
 */
static void UsePaletteIndices(void) {
    BITMAPINFOHEADER* info;
    WORD* indices;
    DWORD count, i;

    info = (BITMAPINFOHEADER*)GlobalLock(BitmapState.BitmapHeaderBlock);
    if (info == NULL)
        return;
    count = info->biClrUsed;
    if (count > DibColorCount(info))
        count = DibColorCount(info);
    indices = (WORD*)((BYTE*)info + info->biSize);
    for (i = 0; i < count; i++)
        indices[i] = (WORD)i;
    BitmapState.BitmapColorsAreIndices = TRUE;
    GlobalUnlock(BitmapState.BitmapHeaderBlock);
}

/***********************************************************************
 *           LoadBitmapFile
 *
 * Loads a DIB file for the test window: its headers and palette, the whole image as a device
 * bitmap, then fits the window to it. Returns 1 on success, also when memory for the whole
 * image is short and the rows are uncompressed (BI_RGB or BI_BITFIELDS: it is then painted
 * from the file in bands). Returns 0, holding nothing, when the name does not fit the state's
 * 128 bytes, the file cannot be opened or its header is refused, the image has no palette, a
 * run-length image cannot be held in memory, or the device bitmap cannot be made. Silent on
 * every failure.
 */
int LoadBitmapFile(const char* fileName, HWND window) {
    BITMAPINFOHEADER info;
    OFSTRUCT of;
    HFILE file;

    FreeBitmap();
    if (fileName == NULL || strlen(fileName) >= sizeof(BitmapState.BitmapFileName)) {
        BitmapState.BitmapFileName[0] = '\0';
        return 0;
    }
    strcpy(BitmapState.BitmapFileName, fileName);

    file = OpenFile(BitmapState.BitmapFileName, &of, OF_READ);
    if (file == HFILE_ERROR)
        return 0;
    BitmapState.BitmapHeaderBlock = ReadDibHeader(file);
    BitmapState.BitmapBitsOffset = _llseek(file, 0, FILE_CURRENT);
    _lclose(file);
    if (BitmapState.BitmapHeaderBlock == NULL)
        return 0;

    GetDibInfo(BitmapState.BitmapHeaderBlock, &info);
    BitmapState.BitmapPalette = CreateDibPalette(BitmapState.BitmapHeaderBlock);
    if (BitmapState.BitmapPalette == NULL) {
        FreeBitmap();
        return 0;
    }
    if (info.biBitCount != 24 && info.biCompression != BI_BITFIELDS)
        UsePaletteIndices();
    BitmapState.BitmapValid = TRUE;

    BitmapState.BitmapImageBlock = ReadDibFile(BitmapState.BitmapFileName);
    if (info.biCompression != BI_RGB && info.biCompression != BI_BITFIELDS &&
        BitmapState.BitmapImageBlock == NULL) {
        FreeBitmap();
        return 0;
    }
    if (BitmapState.BitmapImageBlock != NULL) {
        BitmapState.BitmapDeviceBitmap =
            CreateDeviceBitmap(BitmapState.BitmapImageBlock, BitmapState.BitmapPalette);
        if (BitmapState.BitmapDeviceBitmap == NULL) {
            FreeBitmap();
            return 0;
        }
    }
    FitWindowToBitmap(window);
    return 1;
}
