// Every file of the BMP Suite: read or refused as docs/bitmaps.md says, and what loads paints
// the same pixels as an independent decoder (ImageMagick, when it is installed). Every
// truncated prefix of a few good files fails cleanly or paints what was read.
#include "program_reset.h"
#include "dib/dib.h"
#include "dib_test_util.h"
#include "shell.h"

#include "win32/faults.h"
#include "win32/harness.h"
#include "win32/testing.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace {

using namespace dibtest;
namespace fs = std::filesystem;

// Files whose header ReadDibFile refuses, with the reason.
const std::set<std::string> k_refused = {
    "b/badbitcount.bmp",    // 30000 bits a pixel
    "b/badheadersize.bmp",  // header size 66
    "b/badpalettesize.bmp", // biClrUsed past 65535
    "b/badplanes.bmp",      // planes not 1
    "b/badwidth.bmp",       // negative width
    "b/reallybig.bmp",      // sides past 32767, rows past 2 GB
    "b/rgb16-880.bmp",      // bit fields without masks in the table
    "b/rletopdown.bmp",     // top-down run-length rows
    "g/pal8v4.bmp",         // 108-byte header
    "g/pal8v5.bmp",         // 124-byte header
    "g/rgb16-565.bmp",      // bit fields, no table for the masks
    "g/rgb16bfdef.bmp",     //
    "g/rgb32bf.bmp",        //
    "g/rgb32bfdef.bmp",     //
    "q/pal1huffmsb.bmp",    // 64-byte header
    "q/pal2.bmp",           // 2 bits a pixel
    "q/pal2color.bmp",      //
    "q/pal8os2v2-16.bmp",   // 16-byte header
    "q/pal8os2v2-sz.bmp",   // 64-byte header
    "q/pal8os2v2.bmp",      //
    "q/rgb16-231.bmp",      // bit fields, no table
    "q/rgb16-3103.bmp",     //
    "q/rgb24jpeg.bmp",      // 124-byte header
    "q/rgb24lprof.bmp",     //
    "q/rgb24png.bmp",       //
    "q/rgb24rle24.bmp",     // 64-byte header
    "q/rgb32-111110.bmp",   // bit fields, no table
    "q/rgb32-7187.bmp",     //
    "q/rgb32-xbgr.bmp",     // 124-byte header
    "q/rgb32h52.bmp",       // 52-byte header
    "q/rgba16-1924.bmp",    // 124-byte header
    "q/rgba16-4444.bmp",    //
    "q/rgba16-5551.bmp",    //
    "q/rgba32-1.bmp",       //
    "q/rgba32-1010102.bmp", //
    "q/rgba32-2.bmp",       //
    "q/rgba32-61754.bmp",   //
    "q/rgba32-81284.bmp",   //
    "q/rgba32abf.bmp",      // compression 6
    "q/rgba32h56.bmp",      // 56-byte header
    "q/rgba64.bmp",         // 64 bits a pixel
};

// Run-length streams built to overrun their picture: they leave pixels undefined, which the
// independent decoder fills with a colour of its own where GDI keeps the bitmap's black.
const std::set<std::string> k_undefined_pixels = {
    "b/badrle.bmp",    "b/badrle4.bmp",   "b/badrle4bis.bmp",  "b/badrle4ter.bmp",
    "b/badrlebis.bmp", "b/badrleter.bmp", "q/pal4rletrns.bmp", "q/pal8rletrns.bmp"};

// Files that read but do not load: 16 or 32 bits without a colour table have no palette.
const std::set<std::string> k_no_palette = {"g/rgb16.bmp", "g/rgb32.bmp", "q/rgb16faketrns.bmp",
                                            "q/rgb32fakealpha.bmp"};

std::vector<std::string> corpus() {
    std::vector<std::string> names;
    for (const char* folder : {"g", "q", "b"})
        for (const auto& entry : fs::directory_iterator(corpus_dir() + "/" + folder))
            if (entry.path().extension() == ".bmp")
                names.push_back(std::string(folder) + "/" + entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// True when ImageMagick's convert is installed (not a stand-in).
bool have_imagemagick() {
    static int s_have = -1;
    if (s_have < 0) {
        FILE* p = popen("convert -version 2>/dev/null", "r");
        char line[256] = {};
        s_have =
            p && fgets(line, sizeof line, p) && std::string(line).find("Version: ImageMagick") == 0;
        if (p)
            pclose(p);
    }
    return s_have == 1;
}

// ImageMagick's reading of a file as pixels; empty when it refuses the file.
platform::Image imagemagick(const std::string& bmp, const TempDir& dir) {
    std::string png = dir.path("im.png");
    std::remove(png.c_str());
    std::string command = "convert '" + bmp + "' -depth 8 PNG24:'" + png + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        return {};
    return platform::read_png(png);
}

class Corpus : public ::testing::Test {
protected:
    void SetUp() override {
        program_reset::bitmap_window();
        ASSERT_TRUE(CreateTestWindow("Kavix Glide Test", nullptr, "missing.bmp"));
    }
    void TearDown() override {
        win32::faults::set_global_memory_limit(std::nullopt);
        FreeBitmap();
    }
    // Loads a file; with `bands`, memory is one byte short of what the image block needs.
    int load(const std::string& path, bool bands, const BITMAPINFOHEADER* info = nullptr) {
        FreeBitmap();
        if (bands) {
            size_t header = 40 + DibColorTableSize(info);
            win32::faults::set_global_memory_limit(win32::faults::global_memory_in_use() +
                                                   2 * header + info->biSizeImage - 1);
        }
        int ok = LoadBitmapFile(path.c_str(), TestWindow);
        win32::faults::set_global_memory_limit(std::nullopt);
        if (!ok)
            BitmapState.BitmapValid = FALSE;
        // The fitted window leaves out a line on the right and at the bottom; widen it so
        // that every pixel can be compared.
        RECT r;
        if (ok && GetWindowRect(TestWindow, &r))
            SetWindowPos(TestWindow, nullptr, 0, 0, r.right - r.left + 16, r.bottom - r.top + 16,
                         SWP_NOMOVE | SWP_NOZORDER);
        InvalidateRect(TestWindow, nullptr, TRUE);
        UpdateWindow(TestWindow);
        return ok;
    }
    TempDir m_dir;
};

TEST_F(Corpus, EveryFileIsReadOrRefused) {
    std::vector<std::string> names = corpus();
    ASSERT_GE(names.size(), 88u);
    for (const std::string& name : names) {
        std::string path = corpus_dir() + "/" + name;
        HGLOBAL dib = ReadDibFile(path.c_str());
        EXPECT_EQ(dib == nullptr, k_refused.count(name) == 1) << name;
        if (dib) {
            BITMAPINFOHEADER info;
            GetDibInfo(dib, &info);
            EXPECT_EQ(GlobalSize(dib), 40u + DibColorTableSize(&info) + info.biSizeImage) << name;
            GlobalFree(dib);
        }
        bool loads = !k_refused.count(name) && !k_no_palette.count(name);
        EXPECT_EQ(load(path, false), loads ? 1 : 0) << name;
        EXPECT_EQ(BitmapState.BitmapHeaderBlock != nullptr, loads) << name;
    }
}

TEST_F(Corpus, LoadedFilesPaintLikeAnIndependentDecoder) {
    if (!have_imagemagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    int compared = 0;
    for (const std::string& name : corpus()) {
        if (k_refused.count(name) || k_no_palette.count(name) || k_undefined_pixels.count(name))
            continue;
        std::string path = corpus_dir() + "/" + name;
        platform::Image want = imagemagick(path, m_dir);
        if (want.empty())
            continue; // ImageMagick refuses it (bad indices, palettes past 256)
        HGLOBAL dib = ReadDibFile(path.c_str());
        BITMAPINFOHEADER info;
        GetDibInfo(dib, &info);
        GlobalFree(dib);
        for (bool bands : {false, true}) {
            SCOPED_TRACE(name + (bands ? " in bands" : ""));
            if (bands && info.biCompression != BI_RGB)
                continue; // never painted from the file
            ASSERT_EQ(load(path, bands, &info), 1);
            EXPECT_EQ(BitmapState.BitmapDeviceBitmap == nullptr, bands);
            platform::Image got = win32::harness::window_image(TestWindow);
            ASSERT_GE(got.width, want.width);
            ASSERT_GE(got.height, want.height);
            int wrong = 0;
            for (int y = 0; y < want.height; ++y)
                for (int x = 0; x < want.width; ++x)
                    if (got.at(x, y) != want.at(x, y) && wrong++ < 3)
                        ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex
                                      << got.at(x, y) << " where the decoder has " << want.at(x, y);
            if (wrong)
                break;
            ++compared;
        }
    }
    EXPECT_GT(compared, 40);
}

// Every prefix of a few good files: the load fails cleanly, or it paints, and the rows that
// the prefix holds whole show as they do from the whole file.
TEST_F(Corpus, TruncatedPrefixesFailCleanlyOrPaintWhatWasRead) {
    for (const char* name : {"g/pal8.bmp", "g/pal4rle.bmp", "g/pal8os2.bmp", "g/rgb24.bmp"}) {
        SCOPED_TRACE(name);
        std::string path = corpus_dir() + "/" + name;
        std::ifstream in(path, std::ios::binary);
        std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), {});
        ASSERT_EQ(load(path, false), 1);
        platform::Image whole = win32::harness::window_image(TestWindow);
        BITMAPINFOHEADER info;
        GetDibInfo(BitmapState.BitmapHeaderBlock, &info);
        LONG offset = BitmapState.BitmapBitsOffset;
        size_t stride = test_support::dib_stride(info.biBitCount, info.biWidth);
        // One copy cut shorter and shorter: every length up to 1200 bytes, then every 97th.
        std::string cut = m_dir.file("cut.bmp", bytes);
        for (size_t n = bytes.size() - 1; n + 1 > 0; n -= (n <= 1200 ? 1 : 97)) {
            fs::resize_file(cut, n);
            if (!load(cut, false))
                continue;
            if (info.biCompression != BI_RGB || n < size_t(offset))
                continue; // a short table reads as zeros: nothing to compare
            platform::Image got = win32::harness::window_image(TestWindow);
            size_t whole_rows = (n - size_t(offset)) / stride;
            for (size_t r = 0; r < whole_rows; ++r) {
                int y = int(info.biHeight - 1 - LONG(r));
                for (int x = 0; x < info.biWidth; ++x)
                    ASSERT_EQ(got.at(x, y), whole.at(x, y))
                        << n << " bytes, pixel " << x << "," << y;
            }
        }
    }
}

} // namespace
