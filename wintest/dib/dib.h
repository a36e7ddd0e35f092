/*
 * Bitmap display: reading a Windows DIB file, loading it into the test window, painting it.
 */
#ifndef WINTEST_DIB_H
#define WINTEST_DIB_H

#include <windows.h>

/* The loaded bitmap; a single instance, all zero at start. */
struct BitmapStateRecord {
    char BitmapFileName[128];    /* name given to LoadBitmapFile; the painter reopens it */
    HGLOBAL BitmapHeaderBlock;   /* header and colour table (palette indices unless 24-bit) */
    HGLOBAL BitmapImageBlock;    /* the whole DIB in memory, or none */
    HPALETTE BitmapPalette;      /* made from the header block */
    HBITMAP BitmapDeviceBitmap;  /* device bitmap made from the image block, or none */
    LONG BitmapBitsOffset;       /* file offset of the first pixel row */
    BOOL BitmapValid;            /* a bitmap is loaded and may be painted */
    BOOL BitmapColorsAreIndices; /* the header block's table holds palette indices */
    WORD BitmapWidth;            /* low 16 bits of the image width */
    WORD BitmapHeight;           /* low 16 bits of the image height */
    int ScrollRangeDepth;        /* re-entry guard of SetBitmapScrollRanges */
};
extern BitmapStateRecord BitmapState;

/* DIB file reading */
HGLOBAL ReadDibHeader(HFILE file);
HGLOBAL ReadDibFile(const char* fileName);
BOOL GetDibInfo(HGLOBAL dib, BITMAPINFOHEADER* header);
WORD DibColorCount(const void* header);
DWORD DibColorTableSize(const void* header);
unsigned long long DibStride(const BITMAPINFOHEADER* info);
DWORD ReadInChunks(HFILE file, void* destination, DWORD count);
HPALETTE CreateDibPalette(HGLOBAL dib);

/* Loading and window fitting */
int LoadBitmapFile(const char* fileName, HWND window);
void FreeBitmap(void);
HBITMAP CreateDeviceBitmap(HGLOBAL dib, HPALETTE palette);
void FitWindowToBitmap(HWND window);
void SetBitmapScrollRanges(HWND window);
void GetFullClientRect(HWND window, RECT* rect);

/* Painting */
void PaintBitmap(HWND window, HDC dc, int x, int y);
void PaintBitmapBands(HWND window, HDC dc);
BOOL BlitDeviceBitmap(HDC dc, HBITMAP bitmap, DWORD rop);

#endif
