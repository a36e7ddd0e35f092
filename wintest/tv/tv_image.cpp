/*
 * The TV test image reader: an 8-bit intensity texture in the 3DF layout, a four-line text
 * header such as
 *
 *     3df v1.0
 *     i8
 *     lod range: 1 256
 *     aspect ratio: 1 1
 *
 * followed by the levels, largest first. Only the largest level is read, and each intensity
 * byte v becomes the 32-bit grey pixel of bytes v, v, v, 0 that the frame buffer write takes.
 */
#include "tv/tv.h"

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

/* The four header lines together, line feeds included, take at most this many bytes. */
#define TV_IMAGE_HEADER_SIZE 100

/* The header fields that the reader uses. */
struct TvImageHeader {
    char FormatName[12]; /* a word of at most 11 characters */
    long LargestSize;    /* side of the largest level */
    long AspectWidth;    /* aspect term of the width */
    long AspectHeight;   /* aspect term of the height */
};

/***********************************************************************
 *           ReadTvImageHeader
 *
 * Reads the four header lines into one text of at most 100 bytes: every line feed but the
 * last becomes a blank and the last the terminating zero. Returns 0 when the file ends
 * before the fourth line feed or the lines run past 100 bytes; nothing past the area is
 * read or written then.
 */
static int ReadTvImageHeader(FILE* file, char* header) {
    int lineFeeds = 0;
    for (int length = 0; length < TV_IMAGE_HEADER_SIZE; length++) {
        int c = fgetc(file);
        if (c == EOF)
            return 0;
        if (c == '\n' && ++lineFeeds == 4) {
            header[length] = '\0';
            return 1;
        }
        header[length] = (char)(c == '\n' ? ' ' : c);
    }
    return 0;
}

/* Skips white space, as a blank of a scanf format does. */
static const char* SkipSpace(const char* p) {
    while (*p && isspace((unsigned char)*p))
        p++;
    return p;
}

/* Matches literal text exactly; NULL when it differs. */
static const char* MatchText(const char* p, const char* text) {
    if (p == NULL)
        return NULL;
    while (*text)
        if (*p++ != *text++)
            return NULL;
    return p;
}

/* Reads a word as "%s" does into an area of `size` bytes; NULL when there is none or it is
 * longer than size - 1 characters. */
static const char* ReadWord(const char* p, char* word, int size) {
    if (p == NULL)
        return NULL;
    p = SkipSpace(p);
    int length = 0;
    while (*p && !isspace((unsigned char)*p)) {
        if (length == size - 1)
            return NULL;
        word[length++] = *p++;
    }
    word[length] = '\0';
    return length ? p : NULL;
}

/* Reads an integer as "%i" does: decimal, hexadecimal after 0x, octal after a leading 0,
 * with an optional sign. A number beyond the range of int is held at its nearest end. */
static const char* ReadInteger(const char* p, long* value) {
    if (p == NULL)
        return NULL;
    char* end;
    long long n = strtoll(p, &end, 0);
    if (end == p)
        return NULL;
    if (n > INT_MAX)
        n = INT_MAX;
    if (n < INT_MIN)
        n = INT_MIN;
    *value = (long)n;
    return end;
}

/***********************************************************************
 *           ParseTvImageHeader
 *
 * Reads the header text as the format "3df v%s %s lod range: %i %i aspect ratio: %i %i"
 * would. Returns 1 when all six fields are there; a version word over 7 characters or a
 * format name over 11 counts as a missing field.
 */
static int ParseTvImageHeader(const char* text, TvImageHeader* header) {
    char version[8];
    long smallestSize;
    const char* p = MatchText(text, "3df");
    p = MatchText(p ? SkipSpace(p) : NULL, "v");
    p = ReadWord(p, version, sizeof(version));
    p = ReadWord(p, header->FormatName, sizeof(header->FormatName));
    p = MatchText(p ? SkipSpace(p) : NULL, "lod");
    p = MatchText(p ? SkipSpace(p) : NULL, "range:");
    p = ReadInteger(p, &smallestSize);
    p = ReadInteger(p, &header->LargestSize);
    p = MatchText(p ? SkipSpace(p) : NULL, "aspect");
    p = MatchText(p ? SkipSpace(p) : NULL, "ratio:");
    p = ReadInteger(p, &header->AspectWidth);
    p = ReadInteger(p, &header->AspectHeight);
    return p != NULL;
}

/* Compares with "I8" ignoring ASCII case. */
static int IsIntensityFormat(const char* name) {
    return (name[0] == 'I' || name[0] == 'i') && name[1] == '8' && name[2] == '\0';
}

/***********************************************************************
 *           TvImageSize
 *
 * Works out the largest level's size: the larger aspect term divides the other side (integer
 * division). Returns 0 when a term or the size is 0 or below, or the result is empty or
 * wider or higher than TV_IMAGE_MAX_SIDE.
 */
static int TvImageSize(const TvImageHeader* header, int* width, int* height) {
    long size = header->LargestSize;
    long a = header->AspectWidth;
    long b = header->AspectHeight;
    if (size <= 0 || a <= 0 || b <= 0)
        return 0;
    long w = b > a ? size / b : size;
    long h = b > a ? size : size / a;
    if (w <= 0 || h <= 0 || w > TV_IMAGE_MAX_SIDE || h > TV_IMAGE_MAX_SIDE)
        return 0;
    *width = (int)w;
    *height = (int)h;
    return 1;
}

/***********************************************************************
 *           BytesLeft
 *
 * Returns the bytes of the file from its position to its end (0 when they cannot be told),
 * leaving the position as it was.
 */
static size_t BytesLeft(FILE* file) {
    long here = ftell(file);
    if (here < 0 || fseek(file, 0, SEEK_END) != 0)
        return 0;
    long end = ftell(file);
    fseek(file, here, SEEK_SET);
    return end > here ? (size_t)(end - here) : 0;
}

/***********************************************************************
 *           ReadTvTestImage
 *
 * Reads the largest level of an I8 texture file into a new array of 32-bit grey pixels, row
 * after row, and stores its width and height. Returns the array (the caller owns it), or
 * NULL when the file cannot be opened, its header is cut short, too long or incomplete, the
 * format is not I8, the size is unusable or memory runs out; width and height are then left
 * alone. A file shorter than the image still gives an image: the missing pixels are black.
 * Only the texels the file holds are read, into an area of their size, so a short file that
 * claims a large image costs no more than the picture itself. Silent on every path.
 */
DWORD* ReadTvTestImage(const char* path, int* width, int* height) {
    char text[TV_IMAGE_HEADER_SIZE];
    TvImageHeader header;
    int w, h;

    FILE* file = fopen(path, "rb");
    if (file == NULL)
        return NULL;
    if (!ReadTvImageHeader(file, text) || !ParseTvImageHeader(text, &header) ||
        !TvImageSize(&header, &w, &h) || !IsIntensityFormat(header.FormatName)) {
        fclose(file);
        return NULL;
    }

    size_t count = (size_t)w * (size_t)h;
    size_t held = BytesLeft(file);
    if (held > count)
        held = count;
    BYTE* raw = (BYTE*)malloc(held != 0 ? held : 1);
    BYTE* pixels = (BYTE*)calloc(count, 4); /* missing texels stay 0: black pixels */
    if (raw == NULL || pixels == NULL) {
        free(raw);
        free(pixels);
        fclose(file);
        return NULL;
    }

    held = fread(raw, 1, held, file);
    for (size_t i = 0; i < held; i++) {
        pixels[i * 4 + 0] = raw[i];
        pixels[i * 4 + 1] = raw[i];
        pixels[i * 4 + 2] = raw[i];
    }

    free(raw);
    fclose(file);
    *width = w;
    *height = h;
    return (DWORD*)pixels;
}
