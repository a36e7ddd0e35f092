// Bitmap loading, window fitting and painting through the real test window.
#include "program_reset.h"
#include "dib/dib.h"
#include "dib_test_util.h"
#include "shell.h"

#include "platform/events.h"
#include "win32/faults.h"
#include "win32/harness.h"
#include "win32/testing.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <fstream>
#include <iterator>

namespace {

using namespace dibtest;

// A picture whose every pixel differs: grey index (x * 7 + y * 3) % 256 at (x, y).
int index_at(int x, int y) {
    return (x * 7 + y * 3) % 256;
}

// An 8-bit file w x h of that picture with a 256-entry table (entry i: red i, green 255 - i,
// blue i / 2), rows bottom-up.
Bmp picture8(int w, int h) {
    Bmp b;
    b.width = w;
    b.height = h;
    for (int i = 0; i < 256; ++i)
        b.table.push_back(RGBQUAD{BYTE(i / 2), BYTE(255 - i), BYTE(i), 0});
    size_t stride = test_support::dib_stride(8, w);
    b.rows.assign(stride * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.rows[size_t(h - 1 - y) * stride + x] = BYTE(index_at(x, y));
    return b;
}
uint32_t colour8(int x, int y) {
    int i = index_at(x, y);
    return (uint32_t(i) << 16) | (uint32_t(255 - i) << 8) | uint32_t(i / 2);
}

// The same picture as 24-bit rows.
Bmp picture24(int w, int h) {
    Bmp b;
    b.width = w;
    b.height = h;
    b.bits = 24;
    size_t stride = test_support::dib_stride(24, w);
    b.rows.assign(stride * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t c = colour8(x, y);
            BYTE* p = &b.rows[size_t(h - 1 - y) * stride + size_t(x) * 3];
            p[0] = BYTE(c);
            p[1] = BYTE(c >> 8);
            p[2] = BYTE(c >> 16);
        }
    return b;
}

class BitmapWindow : public ::testing::Test {
protected:
    void SetUp() override {
        program_reset::bitmap_window();
        win32::faults::reset();
        ASSERT_TRUE(CreateTestWindow("Kavix Glide Test", nullptr, "missing.bmp"));
        m_window = TestWindow;
    }
    void TearDown() override {
        win32::faults::reset();
        win32::faults::set_global_memory_limit(std::nullopt);
        FreeBitmap();
    }

    // Loads a file into the test window and paints it; returns LoadBitmapFile's result.
    int load(const std::string& path) {
        int ok = LoadBitmapFile(path.c_str(), m_window);
        if (!ok)
            BitmapState.BitmapValid = FALSE;
        make_room(ok);
        repaint();
        return ok;
    }
    // The window fitted to a bitmap shows all of it but for a line on the right and at the
    // bottom (its size comes from a frame without caption plus a menu bar); painting tests
    // widen it so that every pixel can be checked.
    void make_room(int loaded) {
        RECT r;
        if (!loaded || IsZoomed(m_window) || !GetWindowRect(m_window, &r))
            return;
        SetWindowPos(m_window, nullptr, 0, 0, r.right - r.left + 16, r.bottom - r.top + 16,
                     SWP_NOMOVE | SWP_NOZORDER);
    }
    // Loads with memory so short that the whole image cannot be held; paints with memory
    // enough for the bands.
    int load_without_memory(const std::string& path, size_t header_room = 4096) {
        FreeBitmap();
        win32::faults::set_global_memory_limit(win32::faults::global_memory_in_use() + header_room);
        int ok = LoadBitmapFile(path.c_str(), m_window);
        win32::faults::set_global_memory_limit(std::nullopt);
        if (!ok)
            BitmapState.BitmapValid = FALSE;
        make_room(ok);
        repaint();
        return ok;
    }
    void repaint(const RECT* area = nullptr) {
        InvalidateRect(m_window, area, TRUE);
        UpdateWindow(m_window);
    }
    platform::Image shot() const { return win32::harness::window_image(m_window); }

    // Checks that the client area shows colour(x + dx, y + dy) of a w x h picture, as far as
    // both reach.
    template <typename Colour>
    void expect_picture(Colour colour, int w, int h, int dx = 0, int dy = 0) {
        platform::Image image = shot();
        ASSERT_GT(image.width, 0);
        for (int y = 0; y + dy < h && y < image.height; ++y)
            for (int x = 0; x + dx < w && x < image.width; ++x)
                ASSERT_EQ(image.at(x, y), colour(x + dx, y + dy))
                    << "client pixel " << x << "," << y;
    }

    HWND m_window{nullptr};
    TempDir m_dir;
};

TEST_F(BitmapWindow, WindowIsFittedToThePicture) {
    RECT before;
    GetWindowRect(m_window, &before);
    ASSERT_EQ(LoadBitmapFile(m_dir.file("a.bmp", build(picture8(100, 50))).c_str(), m_window), 1);
    RECT want{0, 0, 100, 50};
    AdjustWindowRect(&want, 0x40000, TRUE);
    RECT after;
    GetWindowRect(m_window, &after);
    EXPECT_EQ(after.right - after.left, want.right - want.left + 1);
    EXPECT_EQ(after.bottom - after.top, want.bottom - want.top + 1);
    EXPECT_EQ(after.left, before.left) << "the window keeps its place";
    EXPECT_EQ(after.top, before.top);
    char title[128];
    GetWindowTextA(m_window, title, sizeof title);
    EXPECT_STREQ(title, WindowTitle);
    EXPECT_EQ(BitmapState.BitmapWidth, 100);
    EXPECT_EQ(BitmapState.BitmapHeight, 50);
    EXPECT_NE(BitmapState.BitmapDeviceBitmap, nullptr);
    repaint();
    expect_picture(colour8, 100, 50);
}

TEST_F(BitmapWindow, FailedLoadsHoldNothing) {
    RECT before;
    GetWindowRect(m_window, &before);
    EXPECT_EQ(load(m_dir.path("none.bmp")), 0);
    Bmp b;
    b.bits = 16;
    b.rows.assign(4, 0);
    EXPECT_EQ(load(m_dir.file("16.bmp", build(b))), 0) << "16 bits without a table: no palette";
    EXPECT_EQ(BitmapState.BitmapHeaderBlock, nullptr);
    EXPECT_EQ(BitmapState.BitmapPalette, nullptr);
    EXPECT_FALSE(BitmapState.BitmapValid);
    std::string long_name = m_dir.path(std::string(200, 'n') + ".bmp");
    EXPECT_EQ(load(long_name), 0) << "a name past 127 characters";
    RECT after;
    GetWindowRect(m_window, &after);
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    platform::Image image = shot();
    EXPECT_EQ(image.at(0, 0), 0u) << "only the black background";
}

TEST_F(BitmapWindow, HeaderBlockTableBecomesIndices) {
    Bmp b;
    b.width = 2;
    b.bits = 4;
    b.table.clear();
    for (int i = 0; i < 16; ++i)
        b.table.push_back(RGBQUAD{BYTE(10 + i), BYTE(20 + i), BYTE(30 + i), 0});
    b.rows = {0x1F, 0, 0, 0};
    ASSERT_EQ(load(m_dir.file("4.bmp", build(b))), 1);
    EXPECT_TRUE(BitmapState.BitmapColorsAreIndices);
    {
        Locked l(BitmapState.BitmapHeaderBlock);
        const WORD* words = reinterpret_cast<const WORD*>(l.p + 40);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(words[i], i);
        for (int i = 8; i < 16; ++i)
            EXPECT_EQ(l.table()[i].rgbRed, 30 + i) << "entries past the index words keep RGB";
        Locked image(BitmapState.BitmapImageBlock);
        EXPECT_EQ(image.table()[0].rgbRed, 30) << "the image block keeps its RGB table";
    }
    platform::Image image = shot();
    EXPECT_EQ(image.at(0, 0), (31u << 16) | (21u << 8) | 11u);
    EXPECT_EQ(image.at(1, 0), (45u << 16) | (35u << 8) | 25u);

    HPALETTE first = BitmapState.BitmapPalette;
    HBITMAP first_bitmap = BitmapState.BitmapDeviceBitmap;
    ASSERT_EQ(load(m_dir.file("24.bmp", build(picture24(3, 2)))), 1);
    EXPECT_FALSE(BitmapState.BitmapColorsAreIndices);
    EXPECT_EQ(GetPaletteEntries(BitmapState.BitmapPalette, 0, 0, nullptr), 256u) << "colour cube";
    BITMAP info;
    EXPECT_EQ(GetObjectA(first_bitmap, sizeof info, &info), 0) << "released by the second load";
    EXPECT_EQ(GetPaletteEntries(first, 0, 0, nullptr), 0u);
}

TEST_F(BitmapWindow, ScrollPositionShowsThatPixelTopLeft) {
    std::string path = m_dir.file("s.bmp", build(picture8(100, 60)));
    for (bool bands : {false, true}) {
        SCOPED_TRACE(bands ? "bands" : "device bitmap");
        ASSERT_EQ(bands ? load_without_memory(path) : load(path), 1);
        EXPECT_EQ(BitmapState.BitmapDeviceBitmap == nullptr, bands);
        SetScrollRange(m_window, SB_HORZ, 0, 50, FALSE);
        SetScrollRange(m_window, SB_VERT, 0, 50, FALSE);
        SetScrollPos(m_window, SB_HORZ, 10, FALSE);
        SetScrollPos(m_window, SB_VERT, 20, FALSE);
        repaint();
        expect_picture(colour8, 100, 60, 10, 20);
        SetScrollRange(m_window, SB_HORZ, 0, 0, FALSE);
        SetScrollRange(m_window, SB_VERT, 0, 0, FALSE);
    }
}

TEST_F(BitmapWindow, MaximisedWindowGetsScrollRangesInTwoPasses) {
    ShowWindow(m_window, SW_MAXIMIZE);
    ASSERT_TRUE(IsZoomed(m_window));
    RECT window_before, full;
    GetWindowRect(m_window, &window_before);
    GetClientRect(m_window, &full);
    int w = full.right + 100, h = full.bottom + 80;
    ASSERT_EQ(LoadBitmapFile(m_dir.file("big.bmp", build(picture24(w, h))).c_str(), m_window), 1);
    RECT window_after, client;
    GetWindowRect(m_window, &window_after);
    EXPECT_EQ(window_after.right, window_before.right) << "not resized";
    EXPECT_EQ(window_after.bottom, window_before.bottom);
    GetClientRect(m_window, &client);
    EXPECT_LT(client.right, full.right) << "a vertical scroll bar showed";
    int lo, hi;
    GetScrollRange(m_window, SB_VERT, &lo, &hi);
    EXPECT_EQ(hi, h - client.bottom) << "second pass: measured without the bars' room";
    GetScrollRange(m_window, SB_HORZ, &lo, &hi);
    EXPECT_EQ(hi, w - client.right);
    EXPECT_EQ(BitmapState.ScrollRangeDepth, 0);
}

TEST_F(BitmapWindow, ShortMemoryPaintsUncompressedImagesInBands) {
    Bmp rle;
    rle.width = 64;
    rle.height = 100;
    rle.compression = BI_RLE8;
    rle.clr_used = 4;
    rle.table = ramp(4);
    for (int y = 0; y < 100; ++y)
        rle.rows.insert(rle.rows.end(), {64, BYTE(y % 4), 0, 0});
    EXPECT_EQ(load_without_memory(m_dir.file("rle.bmp", build(rle)), 200), 0)
        << "a compressed image cannot be painted from its file";
    EXPECT_EQ(BitmapState.BitmapHeaderBlock, nullptr);

    ASSERT_EQ(load_without_memory(m_dir.file("b.bmp", build(picture8(120, 90)))), 1);
    EXPECT_EQ(BitmapState.BitmapImageBlock, nullptr);
    EXPECT_EQ(BitmapState.BitmapDeviceBitmap, nullptr);
    EXPECT_TRUE(BitmapState.BitmapColorsAreIndices) << "8-bit bands go as DIB_PAL_COLORS";
    expect_picture(colour8, 120, 90);

    ASSERT_EQ(load_without_memory(m_dir.file("c.bmp", build(picture24(70, 55)))), 1);
    EXPECT_EQ(BitmapState.BitmapDeviceBitmap, nullptr);
    expect_picture(colour8, 70, 55);

    // Top-down rows: bands of 50 then 40 from the top of the picture.
    Bmp top = picture8(60, 90);
    top.height = -90;
    std::vector<BYTE> rows = top.rows;
    for (int y = 0; y < 90; ++y)
        std::copy_n(rows.begin() + (89 - y) * 60, 60, top.rows.begin() + y * 60);
    win32::faults::fail_bitmaps_taller_than(50);
    ASSERT_EQ(load_without_memory(m_dir.file("t.bmp", build(top))), 1);
    EXPECT_EQ(BitmapState.BitmapHeight, 90);
    expect_picture(colour8, 60, 90);
    EXPECT_EQ(Locked(BitmapState.BitmapHeaderBlock).header().biHeight, -90);
}

TEST_F(BitmapWindow, BandsShrinkBy20DownTo50ThenGiveUp) {
    ASSERT_EQ(load_without_memory(m_dir.file("120.bmp", build(picture8(40, 120)))), 1);
    HDC dc = GetDC(m_window);

    win32::faults::fail_next_bitmaps(3); // 120, 100, 80 fail; 60 is drawn
    repaint();
    expect_picture(colour8, 40, 120);

    win32::faults::fail_next_bitmaps(5); // 120, 100, 80, 60 fail; then it gives up
    SetFocus(nullptr);
    test_support::EventRecorder counter;
    PAINTSTRUCT paint;
    InvalidateRect(m_window, nullptr, TRUE);
    HDC paint_dc = BeginPaint(m_window, &paint);
    PaintBitmap(m_window, paint_dc, 0, 0);
    EndPaint(m_window, &paint);
    EXPECT_EQ(counter.count(platform::EventKind::Beep), 1) << "without the focus it beeps";
    EXPECT_EQ(CreateCompatibleBitmap(dc, 1, 1), nullptr) << "exactly four sizes were tried";
    EXPECT_NE(CreateCompatibleBitmap(dc, 1, 1), nullptr);

    SetFocus(m_window);
    win32::faults::fail_all_bitmaps(true);
    InvalidateRect(m_window, nullptr, TRUE);
    paint_dc = BeginPaint(m_window, &paint);
    InvalidateRect(m_window, nullptr, FALSE); // pending again while the paint runs
    PaintBitmap(m_window, paint_dc, 0, 0);
    EndPaint(m_window, &paint);
    RECT update;
    EXPECT_FALSE(GetUpdateRect(m_window, &update, FALSE)) << "with the focus it validates";
    EXPECT_EQ(counter.count(platform::EventKind::Beep), 1);
    win32::faults::fail_all_bitmaps(false);

    ASSERT_EQ(load_without_memory(m_dir.file("30.bmp", build(picture8(40, 30)))), 1);
    win32::faults::fail_next_bitmaps(2);
    repaint();
    EXPECT_EQ(CreateCompatibleBitmap(dc, 1, 1), nullptr) << "a 30-row image gets one try";
    ReleaseDC(m_window, dc);
}

TEST_F(BitmapWindow, BandsRunFromTheBottomAndSkipWhatIsNotPainted) {
    // 130 rows in bands of 50, with only the first 50 rows of the file present: the first band
    // (rows 80..130) is read in full, the later reads find nothing: rows of zero bytes, index
    // 0, never the bytes of the band before.
    Bmp b = picture8(40, 130);
    b.rows.resize(40 * 50);
    ASSERT_EQ(load_without_memory(m_dir.file("130.bmp", build(b))), 1);
    win32::faults::fail_bitmaps_taller_than(50);
    repaint();
    platform::Image image = shot();
    for (int y = 0; y < std::min(130, image.height); ++y)
        ASSERT_EQ(image.at(5, y), y >= 80 ? colour8(5, y) : 0x00FF00u) << "row " << y;

    // Only the top strip invalid: the lower bands are skipped by seeking.
    ASSERT_EQ(load_without_memory(m_dir.file("full.bmp", build(picture8(40, 130)))), 1);
    RECT white{0, 0, 40, 130};
    HDC dc = GetDC(m_window);
    FillRect(dc, &white, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ReleaseDC(m_window, dc);
    RECT strip{0, 0, 40, 10};
    InvalidateRect(m_window, &strip, FALSE);
    UpdateWindow(m_window);
    image = shot();
    for (int y = 0; y < 10; ++y)
        ASSERT_EQ(image.at(7, y), colour8(7, y)) << "row " << y;
    EXPECT_EQ(image.at(7, 10), 0xFFFFFFu) << "below the strip nothing was drawn";
}

// A 32-bit bit-field picture with its channels in an unusual order: red in the low byte,
// green in the middle, blue above.
Bmp bitfields32(int w, int h) {
    Bmp b;
    b.width = w;
    b.height = h;
    b.bits = 32;
    b.compression = BI_BITFIELDS;
    b.clr_used = 3;
    auto mask = [](uint32_t m) {
        RGBQUAD q;
        std::memcpy(&q, &m, 4);
        return q;
    };
    b.table = {mask(0x000000FF), mask(0x0000FF00), mask(0x00FF0000)};
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) {
            uint32_t c = colour8(x, y);
            put32(b.rows, (c >> 16 & 0xFF) | (c & 0xFF00) | (c & 0xFF) << 16);
        }
    return b;
}

// What the window shows of a w x h picture at its top-left.
std::vector<uint32_t> picture_shown(const platform::Image& image, int w, int h) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < std::min(h, image.height); ++y)
        for (int x = 0; x < std::min(w, image.width); ++x)
            pixels.push_back(image.at(x, y));
    return pixels;
}

// Both routes show one file alike: a bit-field picture keeps its masks in the header block
// that the bands are drawn with, and rows missing from a short file are zero bytes whichever
// route reads them (black in 24 bits), never rows of an earlier band.
TEST_F(BitmapWindow, BandsShowWhatTheDeviceBitmapShows) {
    std::string fields = m_dir.file("fields.bmp", build(bitfields32(60, 70)));
    ASSERT_EQ(load(fields), 1);
    expect_picture(colour8, 60, 70);
    win32::faults::fail_bitmaps_taller_than(50);
    ASSERT_EQ(load_without_memory(fields), 1);
    EXPECT_EQ(BitmapState.BitmapDeviceBitmap, nullptr);
    EXPECT_FALSE(BitmapState.BitmapColorsAreIndices) << "the masks stay in the table";
    expect_picture(colour8, 60, 70);
    win32::faults::fail_bitmaps_taller_than(std::nullopt);

    struct Case {
        const char* name;
        Bmp bmp;
        size_t kept; // bytes of rows left in the file
    } cases[] = {{"24 bits", picture24(30, 130), 30 * 3 * 70 + 4},
                 {"8 bits", picture8(40, 130), 40 * 60 + 17}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.bmp.rows.resize(c.kept);
        std::string path = m_dir.file(std::string(c.name) + ".bmp", build(c.bmp));
        ASSERT_EQ(load(path), 1);
        std::vector<uint32_t> whole = picture_shown(shot(), c.bmp.width, 130);
        win32::faults::fail_bitmaps_taller_than(50);
        ASSERT_EQ(load_without_memory(path), 1);
        EXPECT_EQ(BitmapState.BitmapDeviceBitmap, nullptr);
        std::vector<uint32_t> banded = picture_shown(shot(), c.bmp.width, 130);
        win32::faults::fail_bitmaps_taller_than(std::nullopt);
        ASSERT_EQ(banded.size(), whole.size());
        for (size_t i = 0; i < whole.size(); ++i)
            ASSERT_EQ(banded[i], whole[i])
                << "pixel " << i % size_t(c.bmp.width) << "," << i / size_t(c.bmp.width);
        if (c.bmp.bits == 24) {
            EXPECT_EQ(whole.front(), 0u) << "the top rows are missing: black";
        }
    }
}

TEST_F(BitmapWindow, FailedBandRestoresTheHeaderHeight) {
    ASSERT_EQ(load_without_memory(m_dir.file("f.bmp", build(picture8(40, 130)))), 1);
    win32::faults::fail_bitmaps_taller_than(50);
    win32::testing::fail_set_dibits(1, 1); // the second band fails
    repaint();
    EXPECT_EQ(Locked(BitmapState.BitmapHeaderBlock).header().biHeight, 130);
    platform::Image image = shot();
    EXPECT_EQ(image.at(3, 100), colour8(3, 100)) << "the first band stays";
    EXPECT_EQ(image.at(3, 50), 0u) << "nothing after the failed band";
    repaint();
    expect_picture(colour8, 40, 130);
}

TEST_F(BitmapWindow, WithoutABitmapOnlyOriginAndModeAreSet) {
    HDC dc = GetDC(m_window);
    SetBkMode(dc, OPAQUE);
    PaintBitmap(m_window, dc, 4, 6);
    POINT origin;
    SetWindowOrgEx(dc, 0, 0, &origin);
    EXPECT_EQ(origin.x, 4);
    EXPECT_EQ(origin.y, 6);
    EXPECT_EQ(SetBkMode(dc, OPAQUE), TRANSPARENT);
    ReleaseDC(m_window, dc);
    EXPECT_EQ(BlitDeviceBitmap(nullptr, nullptr, SRCCOPY), FALSE);
}

} // namespace

namespace {

// The default logo, found by its bare name beside the program, fills a window fitted to it.
TEST(DefaultLogo, ShowsInAWindowFittedToIt) {
    win32::testing::reset();
    FreeBitmap();
    ASSERT_TRUE(CreateTestWindow("Kavix Glide Test", nullptr, "kvxlogo.bmp"));
    ASSERT_TRUE(BitmapState.BitmapValid) << "kvxlogo.bmp beside the test binary";
    EXPECT_EQ(BitmapState.BitmapWidth, 256);
    EXPECT_EQ(BitmapState.BitmapHeight, 128);
    // The window is sized from AdjustWindowRect of the bitmap with the style 0x40000 and a
    // menu, plus one; its client area is what the real frame and caption leave of that.
    RECT fit{0, 0, 256, 128}, frame{0, 0, 0, 0}, client;
    AdjustWindowRect(&fit, 0x40000, TRUE);
    AdjustWindowRect(&frame, WS_POPUP | WS_CAPTION | WS_THICKFRAME, FALSE);
    GetClientRect(TestWindow, &client);
    EXPECT_EQ(client.right, fit.right - fit.left + 1 - (frame.right - frame.left));
    EXPECT_EQ(client.bottom, fit.bottom - fit.top + 1 - (frame.bottom - frame.top));

    // The committed file decoded by hand: 8 bits, 256 colours, rows bottom-up, no padding.
    std::ifstream in(std::string(WINTEST_SOURCE_DIR) + "/data/kvxlogo.bmp", std::ios::binary);
    std::vector<BYTE> bmp((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bmp.size(), 14u + 40 + 1024 + 256 * 128);
    platform::Image shot = win32::harness::window_image(TestWindow);
    EXPECT_TRUE(platform::write_png(std::string(WINTEST_BIN_DIR) + "/kvxlogo_window.png", shot));
    for (int y = 0; y < std::min(128, int(client.bottom)); ++y)
        for (int x = 0; x < std::min(256, int(client.right)); ++x) {
            BYTE index = bmp[1078 + size_t(127 - y) * 256 + x];
            const BYTE* q = &bmp[54 + index * 4];
            uint32_t want = (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
            ASSERT_EQ(shot.at(x, y), want) << x << "," << y;
        }
    if (client.right > 256 && client.bottom > 128) {
        EXPECT_EQ(shot.at(256, 128), 0u) << "the extra pixel shows the black background";
    }
    FreeBitmap();
}

} // namespace
