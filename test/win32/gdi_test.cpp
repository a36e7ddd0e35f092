// GDI on the true-colour device: DIB rows in and out, palettes, blits, fault switches.
#include <windows.h>

#include "win32/faults.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// stb's asymmetric test picture: a red "F" on blue, 6 x 5, top row first.
constexpr int k_w = 6, k_h = 5;
constexpr const char* k_f[k_h] = {"RRRRRB", "RBBBBB", "RRRBBB", "RBBBBB", "RBBBBB"};
constexpr COLORREF k_red = RGB(255, 0, 0), k_blue = RGB(0, 0, 255);

COLORREF f_colour(int x, int y) {
    return k_f[y][x] == 'R' ? k_red : k_blue;
}

// A BITMAPINFO with room for a 256-entry table (or three masks).
struct Info {
    BITMAPINFOHEADER header{};
    RGBQUAD colors[256]{};
    BITMAPINFO* get() { return reinterpret_cast<BITMAPINFO*>(this); }
};

Info make_info(int bits, int height, DWORD compression = BI_RGB, DWORD used = 0) {
    Info info;
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = k_w;
    info.header.biHeight = height;
    info.header.biPlanes = 1;
    info.header.biBitCount = WORD(bits);
    info.header.biCompression = compression;
    info.header.biClrUsed = used;
    return info;
}

// The F as DIB rows: palette bit counts use index 1 for red and 0 for blue.
std::vector<BYTE> f_rows(int bits, bool top_down, const Info& info) {
    size_t stride = test_support::dib_stride(bits, k_w);
    std::vector<BYTE> rows(stride * k_h, 0xEE); // padding bytes must not matter
    for (int s = 0; s < k_h; ++s) {
        int y = top_down ? s : k_h - 1 - s;
        BYTE* row = rows.data() + s * stride;
        if (bits <= 8)
            std::memset(row, 0, stride);
        for (int x = 0; x < k_w; ++x) {
            bool red = k_f[y][x] == 'R';
            switch (bits) {
            case 1:
                row[x / 8] |= BYTE((red ? 1 : 0) << (7 - x % 8));
                break;
            case 4:
                row[x / 2] |= BYTE((red ? 1 : 0) << (x % 2 ? 0 : 4));
                break;
            case 8:
                row[x] = red ? 1 : 0;
                break;
            case 16: {
                bool masks = info.header.biCompression == BI_BITFIELDS;
                WORD v = red ? (masks ? 0xF800 : 0x7C00) : 0x001F;
                row[2 * x] = BYTE(v);
                row[2 * x + 1] = BYTE(v >> 8);
                break;
            }
            case 24:
                row[3 * x] = red ? 0 : 255;
                row[3 * x + 1] = 0;
                row[3 * x + 2] = red ? 255 : 0;
                break;
            case 32:
                row[4 * x] = red ? 0 : 255;
                row[4 * x + 1] = 0;
                row[4 * x + 2] = red ? 255 : 0;
                row[4 * x + 3] = 0x5A; // unused byte
                break;
            }
        }
    }
    return rows;
}

// A memory context holding a new bitmap; releases both at the end.
struct Canvas {
    HDC dc{CreateCompatibleDC(nullptr)};
    HBITMAP bitmap;
    HGDIOBJ old;
    Canvas(int w, int h) : bitmap(CreateCompatibleBitmap(dc, w, h)) {
        old = SelectObject(dc, bitmap);
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    // Makes the bitmap free for SetDIBits (not selected anywhere).
    void deselect() { SelectObject(dc, old); }
    void reselect() { SelectObject(dc, bitmap); }
};

void expect_f(HDC dc, int dx = 0, int dy = 0) {
    for (int y = 0; y < k_h; ++y)
        for (int x = 0; x < k_w; ++x)
            ASSERT_EQ(GetPixel(dc, x + dx, y + dy), f_colour(x, y)) << "pixel " << x << "," << y;
}

TEST(GdiDib, EveryFormatSetsTheSamePicture) {
    struct Case {
        int bits;
        DWORD compression;
        bool top_down;
    } cases[] = {{1, BI_RGB, false},       {4, BI_RGB, false},  {8, BI_RGB, false},
                 {8, BI_RGB, true},        {16, BI_RGB, false}, {16, BI_BITFIELDS, true},
                 {24, BI_RGB, false},      {24, BI_RGB, true},  {32, BI_RGB, false},
                 {32, BI_BITFIELDS, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bits << " bits, compression " << c.compression
                                          << (c.top_down ? ", top-down" : ", bottom-up"));
        Info info = make_info(c.bits, c.top_down ? -k_h : k_h, c.compression, c.bits <= 8 ? 2 : 0);
        info.colors[0] = RGBQUAD{255, 0, 0, 0}; // blue
        info.colors[1] = RGBQUAD{0, 0, 255, 0}; // red
        if (c.compression == BI_BITFIELDS) {
            DWORD masks[3] = {c.bits == 16 ? 0xF800u : 0xFF0000u, c.bits == 16 ? 0x07E0u : 0xFF00u,
                              c.bits == 16 ? 0x001Fu : 0xFFu};
            std::memcpy(info.colors, masks, sizeof masks);
        }
        std::vector<BYTE> rows = f_rows(c.bits, c.top_down, info);
        Canvas canvas(k_w, k_h);
        canvas.deselect();
        EXPECT_EQ(
            SetDIBits(canvas.dc, canvas.bitmap, 0, k_h, rows.data(), info.get(), DIB_RGB_COLORS),
            k_h);
        canvas.reselect();
        expect_f(canvas.dc);
    }
}

TEST(GdiDib, PaletteIndicesGoThroughTheSelectedPalette) {
    struct {
        LOGPALETTE head;
        PALETTEENTRY more[2];
    } logical{{0x300, 3, {{0, 0, 0, 0}}}, {{255, 0, 0, 0}, {0, 0, 255, 0}}};
    HPALETTE palette = CreatePalette(&logical.head);
    ASSERT_NE(palette, nullptr);
    Canvas canvas(k_w, k_h);
    HPALETTE old = SelectPalette(canvas.dc, palette, FALSE);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(RealizePalette(canvas.dc), 3u);
    Info info = make_info(8, k_h, BI_RGB, 2);
    WORD* indices = reinterpret_cast<WORD*>(info.colors);
    indices[0] = 2; // DIB index 0 (blue) names palette entry 2
    indices[1] = 1;
    std::vector<BYTE> rows = f_rows(8, false, info);
    canvas.deselect();
    EXPECT_EQ(SetDIBits(canvas.dc, canvas.bitmap, 0, k_h, rows.data(), info.get(), DIB_PAL_COLORS),
              k_h);
    canvas.reselect();
    expect_f(canvas.dc);
    EXPECT_EQ(SelectPalette(canvas.dc, old, FALSE), palette);
    EXPECT_TRUE(DeleteObject(palette));
}

TEST(GdiDib, ReadsBackInTheFormatAsked) {
    Canvas canvas(k_w, k_h);
    Info in = make_info(24, k_h);
    std::vector<BYTE> rows = f_rows(24, false, in);
    canvas.deselect();
    ASSERT_EQ(SetDIBits(canvas.dc, canvas.bitmap, 0, k_h, rows.data(), in.get(), DIB_RGB_COLORS),
              k_h);

    Info query = make_info(0, 0);
    query.header.biWidth = 0;
    EXPECT_NE(GetDIBits(canvas.dc, canvas.bitmap, 0, k_h, nullptr, query.get(), DIB_RGB_COLORS), 0);
    EXPECT_EQ(query.header.biWidth, k_w);
    EXPECT_EQ(query.header.biHeight, k_h);
    EXPECT_EQ(query.header.biBitCount, 32);

    for (int bits : {24, 32, 16}) {
        SCOPED_TRACE(bits);
        Info out = make_info(bits, -k_h);
        std::vector<BYTE> back(test_support::dib_stride(bits, k_w) * k_h, 0);
        EXPECT_EQ(
            GetDIBits(canvas.dc, canvas.bitmap, 0, k_h, back.data(), out.get(), DIB_RGB_COLORS),
            k_h);
        Info again = make_info(bits, -k_h);
        Canvas copy(k_w, k_h);
        copy.deselect();
        EXPECT_EQ(SetDIBits(copy.dc, copy.bitmap, 0, k_h, back.data(), again.get(), DIB_RGB_COLORS),
                  k_h);
        copy.reselect();
        expect_f(copy.dc);
    }
    Info mono = make_info(1, k_h);
    std::vector<BYTE> bits(test_support::dib_stride(1, k_w) * k_h, 0);
    EXPECT_EQ(GetDIBits(canvas.dc, canvas.bitmap, 0, k_h, bits.data(), mono.get(), DIB_RGB_COLORS),
              k_h);
    EXPECT_EQ(mono.colors[1].rgbRed, 255) << "1-bit tables are black and white";
}

TEST(GdiDib, ScanLinesLandFromTheDibTop) {
    // A band of 2 scan lines set into a taller bitmap fills its top 2 rows, as the banded
    // painter relies on: the DIB's top-left sits on the bitmap's.
    Canvas canvas(k_w, 4);
    Info info = make_info(24, 2);
    std::vector<BYTE> rows = f_rows(24, false, make_info(24, k_h)); // scan 0 is the F's bottom
    canvas.deselect();
    EXPECT_EQ(SetDIBits(canvas.dc, canvas.bitmap, 0, 2, rows.data(), info.get(), DIB_RGB_COLORS),
              2);
    EXPECT_EQ(SetDIBits(canvas.dc, canvas.bitmap, 1, 5, rows.data(), info.get(), DIB_RGB_COLORS), 1)
        << "lines past the DIB's height are not set";
    EXPECT_EQ(SetDIBits(canvas.dc, canvas.bitmap, 2, 1, rows.data(), info.get(), DIB_RGB_COLORS),
              0);
    canvas.reselect();
    EXPECT_EQ(GetPixel(canvas.dc, 0, 0), k_red);
    EXPECT_EQ(GetPixel(canvas.dc, 0, 3), RGB(0, 0, 0)) << "rows below the band keep black";
}

TEST(GdiDib, BadHeadersAreRefused) {
    Canvas canvas(k_w, k_h);
    canvas.deselect();
    BYTE rows[256] = {};
    auto refused = [&](Info info) {
        return SetDIBits(canvas.dc, canvas.bitmap, 0, k_h, rows, info.get(), DIB_RGB_COLORS) == 0;
    };
    EXPECT_TRUE(refused(make_info(2, k_h)));
    EXPECT_TRUE(refused(make_info(64, k_h)));
    EXPECT_TRUE(refused(make_info(24, k_h, BI_RLE8)));
    EXPECT_TRUE(refused(make_info(8, -k_h, BI_RLE8))) << "run-length rows are bottom-up only";
    EXPECT_TRUE(refused(make_info(8, k_h, BI_RLE8))) << "an RLE stream needs its size";
    Info planes = make_info(8, k_h);
    planes.header.biPlanes = 3;
    EXPECT_TRUE(refused(planes));
    Info wide = make_info(32, k_h);
    wide.header.biWidth = 0x7FFFFFFF;
    EXPECT_TRUE(refused(wide)) << "a stride past 1 GB";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    Info size12 = make_info(8, k_h);
    size12.header.biSize = 12;
    EXPECT_TRUE(refused(size12));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

// Decodes an RLE stream into a 6 x 5 bitmap first filled with white.
std::vector<COLORREF> decode(int bits, const std::vector<BYTE>& stream) {
    Canvas canvas(k_w, k_h);
    RECT all{0, 0, k_w, k_h};
    FillRect(canvas.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    Info info = make_info(bits, k_h, bits == 8 ? BI_RLE8 : BI_RLE4, 16);
    for (int i = 0; i < 16; ++i)
        info.colors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    info.header.biSizeImage = DWORD(stream.size());
    canvas.deselect();
    EXPECT_EQ(
        SetDIBits(canvas.dc, canvas.bitmap, 0, k_h, stream.data(), info.get(), DIB_RGB_COLORS),
        k_h);
    canvas.reselect();
    std::vector<COLORREF> out;
    for (int y = 0; y < k_h; ++y)
        for (int x = 0; x < k_w; ++x)
            out.push_back(GetPixel(canvas.dc, x, y));
    return out;
}

COLORREF grey(int v) {
    return RGB(v, v, v);
}
constexpr COLORREF k_white = RGB(255, 255, 255);

TEST(GdiDib, RunLengthRowsDecodeAndStayInside) {
    // RLE8: bottom row: run of 3 x index 1, absolute 2 3 4 (padded), end of line; delta (1, 1)
    // skips a row and a pixel; run of 9 x index 5 is cut at the row end; end of bitmap.
    std::vector<BYTE> rle8 = {3, 1, 0, 3, 2, 3, 4, 0, 0, 0, 0, 2, 1, 1, 9, 5, 0, 1};
    std::vector<COLORREF> p = decode(8, rle8);
    auto at = [&](int x, int y) { return p[size_t(y) * k_w + x]; };
    EXPECT_EQ(at(0, 4), grey(1));
    EXPECT_EQ(at(3, 4), grey(2));
    EXPECT_EQ(at(5, 4), grey(4));
    EXPECT_EQ(at(0, 3), k_white) << "a skipped row keeps what was there";
    EXPECT_EQ(at(0, 2), k_white) << "the delta skipped this pixel";
    EXPECT_EQ(at(1, 2), grey(5));
    EXPECT_EQ(at(5, 2), grey(5));
    EXPECT_EQ(at(0, 1), k_white) << "a run never wraps into the next row";

    // RLE4: run of 5 alternating 7 and 8; absolute 3 nibbles 1 2 3 padded to a word.
    std::vector<BYTE> rle4 = {5, 0x78, 0, 0, 0, 3, 0x12, 0x30, 0, 1};
    p = decode(4, rle4);
    EXPECT_EQ(at(0, 4), grey(7));
    EXPECT_EQ(at(1, 4), grey(8));
    EXPECT_EQ(at(4, 4), grey(7));
    EXPECT_EQ(at(5, 4), k_white);
    EXPECT_EQ(at(2, 3), grey(3));

    // Streams that lie: a delta far past the picture, an absolute run longer than the stream,
    // a stream with no end code, rows past the top. Nothing outside is touched (ASan).
    decode(8, {0, 2, 200, 200, 3, 1});
    decode(8, {0, 250, 1, 2});
    decode(4, {0, 255, 0x11});
    decode(8, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 9, 0, 0, 6, 9});
}

TEST(GdiBlit, CopiesThroughTheOriginAndClips) {
    Canvas source(k_w, k_h);
    Info info = make_info(24, k_h);
    std::vector<BYTE> rows = f_rows(24, false, info);
    source.deselect();
    ASSERT_EQ(SetDIBits(source.dc, source.bitmap, 0, k_h, rows.data(), info.get(), DIB_RGB_COLORS),
              k_h);
    source.reselect();

    Canvas target(4, 4);
    POINT previous{-1, -1};
    EXPECT_TRUE(SetWindowOrgEx(target.dc, 2, 1, &previous));
    EXPECT_EQ(previous.x, 0);
    // Logical (2, 1) is the top-left pixel: the F's pixel (2, 1) lands there.
    EXPECT_TRUE(BitBlt(target.dc, 0, 0, k_w, k_h, source.dc, 0, 0, SRCCOPY));
    SetWindowOrgEx(target.dc, 0, 0, nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(GetPixel(target.dc, x, y), f_colour(x + 2, y + 1)) << x << "," << y;
    EXPECT_EQ(GetPixel(target.dc, 4, 0), CLR_INVALID);

    RECT inside{3, 3, 10, 10}, outside{4, 0, 9, 9}, empty{1, 1, 1, 3};
    EXPECT_TRUE(RectVisible(target.dc, &inside));
    EXPECT_FALSE(RectVisible(target.dc, &outside));
    EXPECT_FALSE(RectVisible(target.dc, &empty));
    SetWindowOrgEx(target.dc, 5, 0, nullptr);
    EXPECT_TRUE(RectVisible(target.dc, &outside)) << "the origin moves the logical space";

    EXPECT_TRUE(BitBlt(target.dc, 5, 0, 2, 2, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(GetPixel(target.dc, 6, 1), RGB(255, 255, 255));
    EXPECT_FALSE(BitBlt(target.dc, 0, 0, 2, 2, source.dc, 0, 0, 0x00EE0086 /* SRCPAINT */));
    EXPECT_FALSE(BitBlt(target.dc, 0, 0, 2, 2, nullptr, 0, 0, SRCCOPY));

    RECT fill{5, 2, 7, 3};
    EXPECT_NE(FillRect(target.dc, &fill, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0);
    EXPECT_EQ(GetPixel(target.dc, 6, 2), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(target.dc, 6, 3), f_colour(3, 4)) << "bottom edge excluded";
    EXPECT_EQ(SetBkMode(target.dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(target.dc, 7), 0);
}

TEST(GdiObjects, SelectionDeletionAndInfo) {
    HDC a = CreateCompatibleDC(nullptr);
    HDC b = CreateCompatibleDC(a);
    HBITMAP bitmap = CreateCompatibleBitmap(a, 30, 20);
    BITMAP info{};
    EXPECT_EQ(GetObjectA(bitmap, sizeof info, &info), int(sizeof info));
    EXPECT_EQ(info.bmWidth, 30);
    EXPECT_EQ(info.bmHeight, 20);
    EXPECT_EQ(info.bmBitsPixel, 32);
    HGDIOBJ old = SelectObject(a, bitmap);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(SelectObject(b, bitmap), nullptr) << "a bitmap lives in one context at a time";
    EXPECT_TRUE(DeleteObject(bitmap)) << "deleted once deselected";
    EXPECT_EQ(GetObjectA(bitmap, sizeof info, &info), int(sizeof info)) << "still selected";
    EXPECT_EQ(SelectObject(a, old), bitmap);
    EXPECT_EQ(GetObjectA(bitmap, sizeof info, &info), 0) << "gone with the last selection";
    EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH))) << "stock objects stay";
    EXPECT_NE(GetStockObject(BLACK_BRUSH), nullptr);
    EXPECT_FALSE(DeleteObject(a)) << "contexts go with DeleteDC";
    EXPECT_TRUE(DeleteDC(a));
    EXPECT_TRUE(DeleteDC(b));
    EXPECT_FALSE(DeleteDC(b));
    EXPECT_EQ(RealizePalette(b), UINT(GDI_ERROR));
    LOGPALETTE bad{0x200, 1, {{0, 0, 0, 0}}};
    EXPECT_EQ(CreatePalette(&bad), nullptr);
}

TEST(GdiFaults, BitmapCreationFailsOnRequest) {
    HDC dc = CreateCompatibleDC(nullptr);
    win32::faults::fail_bitmaps_taller_than(100);
    EXPECT_EQ(CreateCompatibleBitmap(dc, 10, 101), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    HBITMAP ok = CreateCompatibleBitmap(dc, 10, 100);
    EXPECT_NE(ok, nullptr);
    DeleteObject(ok);
    win32::faults::fail_bitmaps_taller_than(std::nullopt);
    win32::faults::fail_next_bitmaps(2);
    Info info = make_info(24, k_h);
    std::vector<BYTE> rows = f_rows(24, false, info);
    EXPECT_EQ(CreateDIBitmap(dc, &info.header, CBM_INIT, rows.data(), info.get(), DIB_RGB_COLORS),
              nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(dc, 10, 10), nullptr);
    HBITMAP made =
        CreateDIBitmap(dc, &info.header, CBM_INIT, rows.data(), info.get(), DIB_RGB_COLORS);
    ASSERT_NE(made, nullptr) << "the count ran out";
    HGDIOBJ old = SelectObject(dc, made);
    expect_f(dc);
    SelectObject(dc, old);
    DeleteObject(made);
    DeleteDC(dc);
    win32::faults::reset();
}

} // namespace
