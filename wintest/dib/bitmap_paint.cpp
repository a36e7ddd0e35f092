/*
 * Bitmap painting: the test window's WM_PAINT draws the loaded bitmap at the scroll position,
 * with the bitmap's palette realised. Normally one copy of the device bitmap made at load;
 * when the image did not fit in memory, the pixel rows are read from the file again on each
 * paint, one band at a time, and only the bands in the area being painted are read and drawn.
 * No message is shown on any path.
 */
#include "dib.h"

#include <string.h>

/* Bands shrink by this many rows a try, and are given up below the smallest size. */
#define BAND_STEP 20
#define BAND_SMALLEST 50

/* What a banded paint holds for its length: the band buffer, a bitmap of band size
 * compatible with the window's context and a memory context to draw it through. */
struct BandSet {
    HGLOBAL buffer;
    HBITMAP bitmap;
    HDC memory;
    int rows;
};

/***********************************************************************
 *           BlitDeviceBitmap
 *
 * Copies the whole device bitmap to logical (0, 0) of `dc` with the raster operation.
 * Returns what BitBlt returned, or 0 without a context or a bitmap.
 */
BOOL BlitDeviceBitmap(HDC dc, HBITMAP bitmap, DWORD rop) {
    BITMAP info;
    HDC memory;
    HGDIOBJ old;
    BOOL result;

    if (dc == NULL || bitmap == NULL)
        return 0;
    memory = CreateCompatibleDC(dc);
    GetObjectA(bitmap, sizeof(info), &info);
    old = SelectObject(memory, bitmap);
    result = BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, rop);
    SelectObject(memory, old);
    DeleteDC(memory);
    return result;
}

/* Releases whichever parts of a band set were made. */
static void FreeBandSet(struct BandSet* bands) {
    if (bands->buffer != NULL)
        GlobalFree(bands->buffer);
    if (bands->bitmap != NULL)
        DeleteObject(bands->bitmap);
    if (bands->memory != NULL)
        DeleteDC(bands->memory);
    bands->buffer = NULL;
    bands->bitmap = NULL;
    bands->memory = NULL;
}

/***********************************************************************
 *           FindBandSize
 *
 * Makes a band buffer, a band bitmap and a memory context for the largest band that can be
 * had, starting with all `rows` and shrinking by 20 rows a try. A band under 50 rows is not
 * tried unless it is the whole image (which then gets exactly one try). Returns 1 with the
 * set filled, 0 when no band could be had.
 */
static int FindBandSize(HDC dc, WORD width, int rows, DWORD stride, struct BandSet* bands) {
    int band;

    for (band = rows; band >= BAND_SMALLEST || band == rows; band -= BAND_STEP) {
        bands->buffer = GlobalAlloc(GMEM_ZEROINIT, stride * (DWORD)band);
        bands->bitmap = CreateCompatibleBitmap(dc, width, band);
        bands->memory = CreateCompatibleDC(dc);
        if (bands->buffer != NULL && bands->bitmap != NULL && bands->memory != NULL) {
            bands->rows = band;
            return 1;
        }
        FreeBandSet(bands);
    }
    return 0;
}

/***********************************************************************
 *           DrawBand
 *
 * Reads `n` rows of the file into the band buffer and draws them with their top at logical
 * row `top`. Bytes the file no longer holds read as zero, as they do in the image block of
 * the in-memory route, so both routes show the same picture of a short file (never rows of
 * the band before). The header block's height is the band's (negative for top-down rows)
 * meanwhile and the image's again afterwards. Returns 0 when SetDIBits or BitBlt failed.
 */
static int DrawBand(HDC dc, HFILE file, BITMAPINFOHEADER* header, struct BandSet* bands,
                    BYTE* buffer, DWORD stride, int n, int top) {
    LONG imageHeight = header->biHeight;
    HGDIOBJ old;
    BOOL drawn;

    memset(buffer, 0, stride * (DWORD)n);
    ReadInChunks(file, buffer, stride * (DWORD)n);
    header->biHeight = imageHeight < 0 ? -n : n;
    if (SetDIBits(bands->memory, bands->bitmap, 0, (UINT)n, buffer, (BITMAPINFO*)header,
                  BitmapState.BitmapColorsAreIndices ? DIB_PAL_COLORS : DIB_RGB_COLORS) != n) {
        header->biHeight = imageHeight;
        return 0;
    }
    old = SelectObject(bands->memory, bands->bitmap);
    drawn = BitBlt(dc, 0, top, (WORD)header->biWidth, n, bands->memory, 0, 0, SRCCOPY);
    SelectObject(bands->memory, old);
    header->biHeight = imageHeight;
    return drawn;
}

/***********************************************************************
 *           PaintBitmapBands
 *
 * Paints the bitmap from its file in horizontal bands, in the order the file holds the rows
 * (from the bottom of the picture up, or from the top down for top-down rows). Bands outside
 * the area being painted are skipped with a seek. When no band can be had, validates the
 * window if it has the focus and beeps otherwise; nothing is drawn then. A band that fails
 * ends the paint with the bands drawn so far left on the screen.
 */
void PaintBitmapBands(HWND window, HDC dc) {
    struct BandSet bands = {NULL, NULL, NULL, 0};
    BITMAPINFOHEADER* header;
    HPALETTE oldPalette, oldMemoryPalette;
    OFSTRUCT of;
    HFILE file;
    BYTE* buffer;
    WORD width;
    int rows, remaining, n, edge, topDown;
    DWORD stride;
    RECT band;

    file = OpenFile(BitmapState.BitmapFileName, &of, OF_READ);
    if (file == HFILE_ERROR)
        return;
    header = (BITMAPINFOHEADER*)GlobalLock(BitmapState.BitmapHeaderBlock);
    if (header == NULL) {
        _lclose(file);
        return;
    }
    width = (WORD)header->biWidth;
    topDown = header->biHeight < 0;
    rows = topDown ? -header->biHeight : header->biHeight;
    stride = (DWORD)DibStride(header);

    if (!FindBandSize(dc, width, rows, stride, &bands)) {
        if (GetFocus() == window)
            ValidateRect(window, NULL);
        else
            MessageBeep(0);
        GlobalUnlock(BitmapState.BitmapHeaderBlock);
        _lclose(file);
        return;
    }

    buffer = (BYTE*)GlobalLock(bands.buffer);
    oldMemoryPalette = SelectPalette(bands.memory, BitmapState.BitmapPalette, FALSE);
    _llseek(file, BitmapState.BitmapBitsOffset, FILE_BEGIN);
    oldPalette = SelectPalette(dc, BitmapState.BitmapPalette, FALSE);
    RealizePalette(dc);

    edge = topDown ? 0 : rows;
    for (remaining = rows; remaining > 0; remaining -= n) {
        n = remaining < bands.rows ? remaining : bands.rows;
        band.left = 0;
        band.right = width;
        band.top = topDown ? edge : edge - n;
        band.bottom = band.top + n;
        edge = topDown ? edge + n : edge - n;
        if (RectVisible(dc, &band)) {
            if (!DrawBand(dc, file, header, &bands, buffer, stride, n, band.top))
                break;
        } else {
            _llseek(file, (LONG)(stride * (DWORD)n), FILE_CURRENT);
        }
    }

    GlobalUnlock(bands.buffer);
    GlobalFree(bands.buffer);
    bands.buffer = NULL;
    SelectPalette(dc, oldPalette, FALSE);
    SelectPalette(bands.memory, oldMemoryPalette, FALSE);
    FreeBandSet(&bands);
    GlobalUnlock(BitmapState.BitmapHeaderBlock);
    _lclose(file);
}

/***********************************************************************
 *           PaintBitmap
 *
 * Paints the loaded bitmap with logical (x, y), the scroll position, at the top-left of the
 * client area: one copy of the device bitmap, or bands from the file. With no bitmap loaded
 * only the origin and the background mode are set.
 */
void PaintBitmap(HWND window, HDC dc, int x, int y) {
    HPALETTE oldPalette;

    SetWindowOrgEx(dc, x, y, NULL);
    SetBkMode(dc, TRANSPARENT);
    if (!BitmapState.BitmapValid)
        return;
    oldPalette = SelectPalette(dc, BitmapState.BitmapPalette, FALSE);
    RealizePalette(dc);
    if (BitmapState.BitmapDeviceBitmap != NULL)
        BlitDeviceBitmap(dc, BitmapState.BitmapDeviceBitmap, SRCCOPY);
    else
        PaintBitmapBands(window, dc);
    SelectPalette(dc, oldPalette, FALSE);
}
