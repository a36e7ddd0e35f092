/*
 * DIB file reading: the headers and colour table of a Windows bitmap file, or the whole file,
 * in one movable global memory block (a DibBlock: BITMAPINFOHEADER, colour table, pixel rows),
 * and the small rules that the bitmap display shares. Nothing here draws or tells the user
 * anything: every failure is a NULL or 0 result.
 *
 * Headers are checked before any block is made, so that nothing later reads or copies past a
 * block (docs/bitmaps.md lists what is refused and what is clamped).
 */
#include "dib.h"

#include <string.h>

/* Pixel data is read in parts of at most this many bytes. */
#define DIB_CHUNK 32768

/* Images whose width or height does not fit a signed 16-bit number are refused: the window
 * and the banded painter work with 16-bit sizes. */
#define DIB_MAX_SIDE 32767

/* Rows of more bytes than fit a LONG are refused. */
#define DIB_MAX_IMAGE_BYTES 0x7FFFFFFFu

/* The reader takes these structures straight from the file's bytes: their sizes are the
 * file format's, whatever the compiler would pad to. */
static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER is 14 bytes on disk");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes on disk");
static_assert(sizeof(BITMAPCOREHEADER) == 12, "BITMAPCOREHEADER is 12 bytes on disk");
static_assert(sizeof(RGBQUAD) == 4, "a colour-table entry of a 40-byte header is 4 bytes");
static_assert(sizeof(RGBTRIPLE) == 3, "a colour-table entry of a 12-byte header is 3 bytes");

/***********************************************************************
 *           DibColorCount
 *
 * Returns the number of colour-table entries of a 12- or 40-byte header: biClrUsed when set
 * (low 16 bits), else 2, 16 or 256 for 1, 4 and 8 bits per pixel and 0 for any other count.
 */
WORD DibColorCount(const void* header) {
    const BITMAPINFOHEADER* info = (const BITMAPINFOHEADER*)header;
    WORD bitCount;

    if (info->biSize == sizeof(BITMAPCOREHEADER)) {
        bitCount = ((const BITMAPCOREHEADER*)header)->bcBitCount;
    } else {
        if (info->biClrUsed != 0)
            return (WORD)info->biClrUsed;
        bitCount = info->biBitCount;
    }
    switch (bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

/***********************************************************************
 *           DibColorTableSize
 *
 * Returns the colour table's size in bytes: 3 bytes an entry behind a 12-byte header, 4
 * behind a 40-byte one. 32 bits: a table of up to 65535 entries takes up to 262140 bytes, which
 * a 16-bit size would wrap, placing the rows inside the table.
 */
DWORD DibColorTableSize(const void* header) {
    const BITMAPINFOHEADER* info = (const BITMAPINFOHEADER*)header;
    DWORD count = DibColorCount(header);

    if (info->biSize == sizeof(BITMAPCOREHEADER))
        return count * (DWORD)sizeof(RGBTRIPLE);
    return count * (DWORD)sizeof(RGBQUAD);
}

/* Bytes of one row: the bits rounded up to whole 32-bit words (64-bit, so it cannot wrap). */
unsigned long long DibStride(const BITMAPINFOHEADER* info) {
    return (((unsigned long long)info->biBitCount * (unsigned long long)(DWORD)info->biWidth + 31) /
            32) *
           4;
}

/* Rows of the image, whichever way they are stored. */
static unsigned long long DibRows(const BITMAPINFOHEADER* info) {
    long long height = info->biHeight;
    return (unsigned long long)(height < 0 ? -height : height);
}

/***********************************************************************
 *           ReadInChunks
 *
 * Reads `count` bytes in parts of at most 32768. Returns `count` when every part arrived in
 * full, 0 after the first short part (the bytes read so far stay in the destination).
 */
DWORD ReadInChunks(HFILE file, void* destination, DWORD count) {
    BYTE* to = (BYTE*)destination;
    DWORD remaining = count;

    while (remaining > DIB_CHUNK) {
        if (_lread(file, to, DIB_CHUNK) != DIB_CHUNK)
            return 0;
        to += DIB_CHUNK;
        remaining -= DIB_CHUNK;
    }
    if (_lread(file, to, remaining) != remaining)
        return 0;
    return count;
}

/***********************************************************************
 *           WidenCoreHeader
 *
 * Turns a 12-byte BITMAPCOREHEADER at the start of `header` into the 40-byte form in place:
 * width and height widened as unsigned 16-bit numbers, no compression, colours used and
 * important both the core header's colour count.
 */
static void WidenCoreHeader(BITMAPINFOHEADER* header) {
    BITMAPCOREHEADER core;
    WORD count;

    memcpy(&core, header, sizeof(core));
    count = DibColorCount(&core);
    memset(header, 0, sizeof(*header));
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = core.bcWidth;
    header->biHeight = core.bcHeight;
    header->biPlanes = core.bcPlanes;
    header->biBitCount = core.bcBitCount;
    header->biCompression = BI_RGB;
    header->biClrUsed = count;
    header->biClrImportant = count;
}

/***********************************************************************
 *           DibHeaderIsSound
 *
 * Checks a 40-byte header for an image that can be held and drawn: positive width, a height
 * other than 0, one plane, 1, 4, 8, 16, 24 or 32 bits, a compression that fits the bit count
 * (run-length rows bottom-up only), bit-field masks present in the table, sides of at most
 * 32767 pixels, no more than 65535 colours, and rows that fit 2 GB. Returns 1 when sound.
 */
static int DibHeaderIsSound(const BITMAPINFOHEADER* info) {
    WORD bits = info->biBitCount;

    if (info->biWidth <= 0 || info->biWidth > DIB_MAX_SIDE)
        return 0;
    if (info->biHeight == 0 || info->biHeight > DIB_MAX_SIDE || info->biHeight < -DIB_MAX_SIDE)
        return 0;
    if (info->biPlanes != 1)
        return 0;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return 0;
    if (info->biClrUsed > 0xFFFF)
        return 0;
    switch (info->biCompression) {
    case BI_RGB:
        break;
    case BI_RLE8:
    case BI_RLE4:
        if (bits != (info->biCompression == BI_RLE8 ? 8 : 4) || info->biHeight < 0)
            return 0;
        break;
    case BI_BITFIELDS:
        /* the three masks are the first three table entries */
        if ((bits != 16 && bits != 32) || DibColorCount(info) < 3)
            return 0;
        break;
    default:
        return 0;
    }
    return DibStride(info) * DibRows(info) <= DIB_MAX_IMAGE_BYTES;
}

/***********************************************************************
 *           FileLength
 *
 * Returns the length of the file (0 when it cannot be told), leaving the file position as it
 * was. Positions worked out from a file's fields are held against it in 64 bits, so that no
 * offset or size the file states can wrap a sum.
 */
static unsigned long long FileLength(HFILE file) {
    LONG here = _llseek(file, 0, FILE_CURRENT);
    LONG end = _llseek(file, 0, FILE_END);

    _llseek(file, here, FILE_BEGIN);
    if (here == HFILE_ERROR || end == HFILE_ERROR || end < 0)
        return 0;
    return (unsigned long long)end;
}

/***********************************************************************
 *           SetDibImageSize
 *
 * Fills in biSizeImage. Uncompressed rows always take stride x rows bytes, whatever the file
 * states, so the block holds exactly the rows that GDI reads. A run-length stream keeps its
 * stated size (stride x rows when 0) cut to the `left` bytes the file holds from its first
 * pixel; returns 0 when no byte of the stream is left.
 */
static int SetDibImageSize(BITMAPINFOHEADER* info, unsigned long long left) {
    if (info->biCompression == BI_RGB || info->biCompression == BI_BITFIELDS) {
        info->biSizeImage = (DWORD)(DibStride(info) * DibRows(info));
        return 1;
    }
    if (info->biSizeImage == 0)
        info->biSizeImage = (DWORD)(DibStride(info) * DibRows(info));
    if (info->biSizeImage > left)
        info->biSizeImage = (DWORD)left;
    return info->biSizeImage != 0;
}

/***********************************************************************
 *           WidenCoreTable
 *
 * Turns `count` RGBTRIPLE entries at the start of `table` into RGBQUAD entries in place, from
 * the last entry back so that no entry is overwritten before it is read. The table has room
 * for the quads.
 */
static void WidenCoreTable(BYTE* table, WORD count) {
    int i;

    for (i = count - 1; i >= 0; i--) {
        RGBQUAD quad;
        quad.rgbBlue = table[i * 3];
        quad.rgbGreen = table[i * 3 + 1];
        quad.rgbRed = table[i * 3 + 2];
        quad.rgbReserved = 0;
        memcpy(table + i * 4, &quad, sizeof(quad));
    }
}

/***********************************************************************
 *           ReadDibHeader
 *
 * Reads the file header (when the file has one), the info header and the colour table of the
 * DIB starting at the file's current position into a new header DibBlock, and leaves the file
 * at the first pixel row (at its end when the rows would start past it). Returns NULL for the
 * invalid handle, a short info header, a header size other than 12 or 40, a header that
 * DibHeaderIsSound refuses, a run-length stream with no byte in the file, or no memory. Short
 * reads of the file header and the table go unnoticed (unread table bytes stay 0). The file is
 * not closed.
 */
HGLOBAL ReadDibHeader(HFILE file) {
    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER header;
    LONG start;
    DWORD bitsOffset, headerSize;
    unsigned long long length, bitsStart;
    WORD count, entrySize;
    HGLOBAL block;
    BYTE* table;

    if (file == HFILE_ERROR)
        return NULL;
    start = _llseek(file, 0, FILE_CURRENT);

    memset(&fileHeader, 0, sizeof(fileHeader));
    _lread(file, &fileHeader.bfType, 2);
    _lread(file, (BYTE*)&fileHeader + 2, 12);
    bitsOffset = fileHeader.bfOffBits;
    if (fileHeader.bfType != 0x4D42) {
        bitsOffset = 0;
        _llseek(file, start, FILE_BEGIN);
    }

    memset(&header, 0, sizeof(header));
    if (_lread(file, &header, sizeof(header)) != sizeof(header))
        return NULL;
    count = DibColorCount(&header);
    headerSize = header.biSize;
    if (headerSize == sizeof(BITMAPCOREHEADER)) {
        WidenCoreHeader(&header);
        _llseek(file, -(LONG)(sizeof(BITMAPINFOHEADER) - sizeof(BITMAPCOREHEADER)), FILE_CURRENT);
        entrySize = sizeof(RGBTRIPLE);
    } else if (headerSize == sizeof(BITMAPINFOHEADER)) {
        entrySize = sizeof(RGBQUAD);
    } else {
        return NULL;
    }
    if (!DibHeaderIsSound(&header))
        return NULL;
    if (header.biClrUsed == 0)
        header.biClrUsed = DibColorCount(&header);

    length = FileLength(file);
    if (bitsOffset != 0)
        bitsStart = (unsigned long long)(DWORD)start + bitsOffset;
    else
        bitsStart = (unsigned long long)(DWORD)_llseek(file, 0, FILE_CURRENT) +
                    (unsigned long long)count * entrySize;
    if (bitsStart > length)
        bitsStart = length; /* no row is in the file */
    if (!SetDibImageSize(&header, length - bitsStart))
        return NULL;

    block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                        sizeof(BITMAPINFOHEADER) + (DWORD)count * sizeof(RGBQUAD));
    if (block == NULL)
        return NULL;
    table = (BYTE*)GlobalLock(block);
    if (table == NULL) {
        GlobalFree(block);
        return NULL;
    }
    memcpy(table, &header, sizeof(header));
    table += sizeof(BITMAPINFOHEADER);

    if (count != 0) {
        _lread(file, table, (UINT)count * entrySize);
        if (entrySize == sizeof(RGBTRIPLE))
            WidenCoreTable(table, count);
    }
    if (bitsOffset != 0)
        _llseek(file, (LONG)bitsStart, FILE_BEGIN);

    GlobalUnlock(block);
    return block;
}

/***********************************************************************
 *           GetDibInfo
 *
 * Copies the block's 40-byte header into `header`, filling in a zero biSizeImage (stride x
 * rows) and a zero biClrUsed (DibColorCount) in the copy. Returns FALSE for no block.
 */
BOOL GetDibInfo(HGLOBAL dib, BITMAPINFOHEADER* header) {
    const BITMAPINFOHEADER* info;

    if (dib == NULL)
        return FALSE;
    info = (const BITMAPINFOHEADER*)GlobalLock(dib);
    if (info == NULL)
        return FALSE;
    memcpy(header, info, sizeof(*header));
    GlobalUnlock(dib);
    if (header->biSize != sizeof(BITMAPCOREHEADER)) {
        if (header->biSizeImage == 0)
            header->biSizeImage = (DWORD)(DibStride(header) * DibRows(header));
        if (header->biClrUsed == 0)
            header->biClrUsed = DibColorCount(header);
    }
    return TRUE;
}

/***********************************************************************
 *           ReadDibFile
 *
 * Reads a whole DIB file into a full DibBlock: header, colour table and biSizeImage bytes of
 * pixel rows. Returns NULL when the file cannot be opened, its header is refused or memory is
 * short. Rows that end early leave the rest of the block 0. The file is closed on every path.
 */
HGLOBAL ReadDibFile(const char* fileName) {
    OFSTRUCT of;
    HFILE file;
    HGLOBAL block, grown;
    BITMAPINFOHEADER info;
    DWORD bitsAt;
    BYTE* bits;

    file = OpenFile(fileName, &of, OF_READ);
    if (file == HFILE_ERROR)
        return NULL;
    block = ReadDibHeader(file);
    if (block == NULL) {
        _lclose(file);
        return NULL;
    }
    GetDibInfo(block, &info);
    bitsAt = sizeof(BITMAPINFOHEADER) + DibColorTableSize(&info);

    grown = GlobalReAlloc(block, bitsAt + info.biSizeImage, GMEM_MOVEABLE | GMEM_ZEROINIT);
    if (grown == NULL) {
        GlobalFree(block);
    } else {
        bits = (BYTE*)GlobalLock(grown);
        if (bits != NULL) {
            ReadInChunks(file, bits + bitsAt, info.biSizeImage);
            GlobalUnlock(grown);
        }
    }
    _lclose(file);
    return grown;
}

/* Fills `palette` with the 8 x 8 x 4 colour cube used for images without a colour table:
 * red changes fastest, blue slowest. */
static void FillColourCube(LOGPALETTE* palette) {
    int i;

    for (i = 0; i < 256; i++) {
        palette->palPalEntry[i].peRed = (BYTE)(32 * (i % 8));
        palette->palPalEntry[i].peGreen = (BYTE)(32 * ((i / 8) % 8));
        palette->palPalEntry[i].peBlue = (BYTE)(64 * (i / 64));
        palette->palPalEntry[i].peFlags = 0;
    }
}

/***********************************************************************
 *           CreateDibPalette
 *
 * Makes a GDI palette from a block's colour table; a 24-bit image without a table gets the
 * 256-entry colour cube. Returns NULL for no block, a header of other than 40 bytes, an image
 * of another bit count without a table, or when memory or palette creation fails.
 */
HPALETTE CreateDibPalette(HGLOBAL dib) {
    const BITMAPINFO* info;
    LOGPALETTE* logical;
    HPALETTE palette = NULL;
    WORD count, entries;
    int i;

    if (dib == NULL)
        return NULL;
    info = (const BITMAPINFO*)GlobalLock(dib);
    if (info == NULL)
        return NULL;
    if (info->bmiHeader.biSize != sizeof(BITMAPINFOHEADER)) {
        GlobalUnlock(dib);
        return NULL;
    }
    count = DibColorCount(&info->bmiHeader);
    if (count == 0 && info->bmiHeader.biBitCount != 24) {
        GlobalUnlock(dib);
        return NULL;
    }
    entries = count != 0 ? count : 256;
    logical =
        (LOGPALETTE*)LocalAlloc(LMEM_ZEROINIT, sizeof(LOGPALETTE) + entries * sizeof(PALETTEENTRY));
    if (logical != NULL) {
        logical->palVersion = 0x300;
        logical->palNumEntries = entries;
        if (count != 0) {
            for (i = 0; i < count; i++) {
                logical->palPalEntry[i].peRed = info->bmiColors[i].rgbRed;
                logical->palPalEntry[i].peGreen = info->bmiColors[i].rgbGreen;
                logical->palPalEntry[i].peBlue = info->bmiColors[i].rgbBlue;
                logical->palPalEntry[i].peFlags = 0;
            }
        } else {
            FillColourCube(logical);
        }
        palette = CreatePalette(logical);
        LocalFree(logical);
    }
    GlobalUnlock(dib);
    return palette;
}
