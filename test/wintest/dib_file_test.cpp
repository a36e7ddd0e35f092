// DIB file reading: headers, colour tables, image sizes, chunked reads and palettes.
#include "dib/dib.h"
#include "dib_test_util.h"

#include "win32/faults.h"

#include <gtest/gtest.h>

namespace {

using namespace dibtest;

// Opens a file the program's way.
HFILE open_file(const std::string& path) {
    OFSTRUCT of;
    return OpenFile(path.c_str(), &of, OF_READ);
}

// The 8-bit 2 x 2 image of indices 1 2 / 3 4 (bottom row first), with 5 table entries.
Bmp small8() {
    Bmp b;
    b.width = 2;
    b.height = 2;
    b.clr_used = 5;
    b.table = ramp(5);
    b.rows = {1, 2, 0, 0, 3, 4, 0, 0};
    return b;
}

TEST(DibReading, RowsComeFromBehindTheTableOrFromTheOffset) {
    TempDir dir;
    struct Case {
        const char* name;
        bool file_header;
        long off_bits;
        size_t gap;
    } cases[] = {{"no file header", false, -1, 0},
                 {"offset zero", true, 0, 0},
                 {"offset behind a gap", true, 14 + 40 + 20 + 7, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bmp b = small8();
        b.file_header = c.file_header;
        b.off_bits = c.off_bits;
        b.gap.assign(c.gap, 0xAA);
        HGLOBAL dib = ReadDibFile(dir.file("a.bmp", build(b)).c_str());
        ASSERT_NE(dib, nullptr);
        EXPECT_EQ(GlobalSize(dib), 40u + 20 + 8);
        {
            Locked l(dib);
            EXPECT_EQ(l.header().biSizeImage, 8u);
            const BYTE* rows = l.p + 40 + 20;
            EXPECT_EQ(rows[0], 1);
            EXPECT_EQ(rows[5], 4);
        }
        GlobalFree(dib);
    }
}

TEST(DibReading, CoreHeaderIsWidened) {
    TempDir dir;
    Bmp b;
    b.core = true;
    b.width = 3;
    b.height = 1;
    b.table.resize(256);
    for (int i = 0; i < 256; ++i)
        b.table[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i / 2), 0};
    b.rows = {7, 8, 9, 0};
    std::string path = dir.file("core.bmp", build(b));
    HFILE f = open_file(path);
    HGLOBAL header = ReadDibHeader(f);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(_llseek(f, 0, FILE_CURRENT), 14 + 12 + 768) << "left at the first pixel row";
    _lclose(f);
    {
        Locked l(header);
        const BITMAPINFOHEADER& h = l.header();
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 3);
        EXPECT_EQ(h.biHeight, 1);
        EXPECT_EQ(h.biCompression, DWORD(BI_RGB));
        EXPECT_EQ(h.biClrUsed, 256u);
        EXPECT_EQ(h.biClrImportant, 256u);
        EXPECT_EQ(h.biSizeImage, 4u);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(l.table()[i].rgbBlue, i) << i;
            ASSERT_EQ(l.table()[i].rgbGreen, 255 - i) << i;
            ASSERT_EQ(l.table()[i].rgbRed, i / 2) << i;
            ASSERT_EQ(l.table()[i].rgbReserved, 0) << i;
        }
    }
    GlobalFree(header);
    HGLOBAL full = ReadDibFile(path.c_str());
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(Locked(full).p[40 + 1024 + 2], 9);
    GlobalFree(full);
}

TEST(DibReading, TableIsSizedByColoursUsed) {
    TempDir dir;
    Bmp b;
    b.width = 4;
    b.height = 1;
    b.clr_used = 16;
    b.table = ramp(16);
    b.rows = {15, 14, 13, 12};
    std::string path = dir.file("16.bmp", build(b));
    HFILE f = open_file(path);
    HGLOBAL header = ReadDibHeader(f);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(_llseek(f, 0, FILE_CURRENT), 14 + 40 + 64) << "only 16 x 4 table bytes read";
    _lclose(f);
    EXPECT_EQ(GlobalSize(header), 40u + 64);
    GlobalFree(header);

    b.clr_used = 0;
    b.table = ramp(256);
    HGLOBAL all = ReadDibFile(dir.file("256.bmp", build(b)).c_str());
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(Locked(all).header().biClrUsed, 256u) << "filled in from the bit count";
    EXPECT_EQ(GlobalSize(all), 40u + 1024 + 4);
    GlobalFree(all);
}

TEST(DibReading, SizesFollowTheStride) {
    BITMAPINFOHEADER h{40, 3, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    TempDir dir;
    Bmp b;
    b.width = 3;
    b.height = 2;
    b.bits = 24;
    b.rows.assign(24, 0x55);
    HGLOBAL dib = ReadDibFile(dir.file("24.bmp", build(b)).c_str());
    ASSERT_NE(dib, nullptr);
    BITMAPINFOHEADER info{};
    EXPECT_TRUE(GetDibInfo(dib, &info));
    EXPECT_EQ(info.biSizeImage, 24u) << "a stride of 12 for 72 bits";
    EXPECT_EQ(info.biClrUsed, 0u);
    GlobalFree(dib);
    EXPECT_FALSE(GetDibInfo(nullptr, &h));

    b = Bmp{};
    b.bits = 1;
    b.table = ramp(2);
    b.rows = {0x80, 0, 0, 0};
    dib = ReadDibFile(dir.file("1.bmp", build(b)).c_str());
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(Locked(dib).header().biSizeImage, 4u);
    GlobalFree(dib);

    EXPECT_EQ(DibColorCount(&h), 0);
    h.biBitCount = 4;
    EXPECT_EQ(DibColorCount(&h), 16);
    EXPECT_EQ(DibColorTableSize(&h), 64);
    h.biClrUsed = 0x10003; // only the low 16 bits count
    EXPECT_EQ(DibColorCount(&h), 3);
    BITMAPCOREHEADER core{12, 1, 1, 1, 8};
    EXPECT_EQ(DibColorTableSize(&core), 768);
}

TEST(DibReading, UnsoundHeadersAreRefusedAndSizesClamped) {
    TempDir dir;
    auto reads = [&](const Bmp& b) {
        HGLOBAL dib = ReadDibFile(dir.file("x.bmp", build(b)).c_str());
        bool ok = dib != nullptr;
        GlobalFree(dib);
        return ok;
    };
    Bmp good = small8();
    EXPECT_TRUE(reads(good));
    for (DWORD size : {16u, 52u, 64u, 108u, 124u}) {
        std::vector<BYTE> bytes = build(good);
        bytes[14] = BYTE(size);
        bytes.insert(bytes.begin() + 54, size_t(size > 40 ? size - 40 : 0), 0);
        EXPECT_EQ(ReadDibFile(dir.file("h.bmp", bytes).c_str()), nullptr) << "header size " << size;
    }
    Bmp b = good;
    b.width = -2;
    EXPECT_FALSE(reads(b)) << "negative width";
    b = good;
    b.bits = 2;
    EXPECT_FALSE(reads(b)) << "2 bits a pixel";
    b = good;
    b.clr_used = 0x10000;
    EXPECT_FALSE(reads(b)) << "more colours than a 16-bit count holds";
    b = good;
    b.width = 40000;
    EXPECT_FALSE(reads(b)) << "wider than 32767";
    b = good;
    b.compression = BI_RLE8;
    b.height = -2;
    EXPECT_FALSE(reads(b)) << "top-down run-length rows";
    b = good;
    b.bits = 16;
    b.compression = BI_BITFIELDS;
    b.clr_used = 0;
    b.table.clear();
    EXPECT_FALSE(reads(b)) << "bit fields without their masks";

    // Top-down rows are held whole; a stated size smaller than the rows is raised to them.
    b = good;
    b.height = -2;
    b.size_image = 3;
    HGLOBAL dib = ReadDibFile(dir.file("td.bmp", build(b)).c_str());
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(Locked(dib).header().biSizeImage, 8u);
    EXPECT_EQ(GlobalSize(dib), 40u + 20 + 8);
    GlobalFree(dib);

    // A run-length stream that claims more than the file holds is cut to the file.
    b = good;
    b.compression = BI_RLE8;
    b.size_image = 0x7FFFFFF0;
    b.rows = {2, 1, 0, 0, 2, 3, 0, 1};
    dib = ReadDibFile(dir.file("rle.bmp", build(b)).c_str());
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(Locked(dib).header().biSizeImage, 8u);
    GlobalFree(dib);
}

// Offsets a file states are held against its real length before any block is made: one past
// the end (even one that a signed sum would turn negative) leaves no row in the file.
TEST(DibReading, OffsetsPastTheEndOfTheFileHoldNoRows) {
    TempDir dir;
    win32::faults::set_global_memory_limit(1u << 20); // a 2 GB block fails at once, not in 27 s
    Bmp rle = small8();
    rle.compression = BI_RLE8;
    rle.clr_used = 4;
    rle.table = ramp(4);
    rle.size_image = 0x7FFFFFF0;
    rle.rows.clear();
    for (DWORD offset : {0x80000000u, 0xFFFFFFFFu, 70u, 71u, 0x7FFFFFFFu}) {
        rle.off_bits = long(offset);
        std::vector<BYTE> bytes = build(rle);
        ASSERT_EQ(bytes.size(), 70u);
        HFILE file = open_file(dir.file("far.bmp", bytes));
        EXPECT_EQ(ReadDibHeader(file), nullptr) << "no byte of the stream left, offset " << offset;
        _lclose(file);
        EXPECT_EQ(ReadDibFile(dir.path("far.bmp").c_str()), nullptr) << offset;
    }

    // Uncompressed rows behind the end read as zero bytes, as rows that end early do.
    Bmp rows = small8();
    rows.off_bits = long(0x80000000u);
    HGLOBAL dib = ReadDibFile(dir.file("rows.bmp", build(rows)).c_str());
    ASSERT_NE(dib, nullptr);
    {
        Locked l(dib);
        EXPECT_EQ(l.header().biSizeImage, 8u);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(l.p[60 + i], 0) << "byte " << i;
    }
    GlobalFree(dib);
    win32::faults::set_global_memory_limit(std::nullopt);
}

// A table of more than 16383 entries takes more bytes than 16 bits count: the rows still lie
// behind the whole table, and the palette reads no entry past the block.
TEST(DibReading, LargeTablesKeepTheRowsBehindThem) {
    TempDir dir;
    Bmp b = small8();
    b.clr_used = 48640;
    b.off_bits = 14 + 40 + 20; // behind the five entries the file has
    HGLOBAL dib = ReadDibFile(dir.file("big.bmp", build(b)).c_str());
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(DibColorTableSize(&Locked(dib).header()), 48640u * 4);
    EXPECT_EQ(GlobalSize(dib), 40u + 48640 * 4 + 8);
    {
        Locked l(dib);
        EXPECT_EQ(l.table()[4].rgbRed, 4) << "the entries the file has";
        EXPECT_EQ(l.table()[5].rgbRed, 0) << "the rest read as zero";
        EXPECT_EQ(l.p[40 + 48640 * 4], 1) << "the first row lies behind the whole table";
        EXPECT_EQ(l.p[40 + 48640 * 4 + 5], 4);
    }
    HPALETTE palette = CreateDibPalette(dib);
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY last{};
    EXPECT_EQ(GetPaletteEntries(palette, 48639, 1, &last), 1u);
    DeleteObject(palette);
    GlobalFree(dib);
}

TEST(DibReading, ShortFilesAndMissingFiles) {
    TempDir dir;
    Bmp b = small8();
    std::vector<BYTE> bytes = build(b);
    bytes.resize(bytes.size() - 3);
    HGLOBAL dib = ReadDibFile(dir.file("short.bmp", bytes).c_str());
    ASSERT_NE(dib, nullptr) << "rows that end early are not an error";
    {
        Locked l(dib);
        EXPECT_EQ(l.p[60 + 4], 3);
        EXPECT_EQ(l.p[60 + 5], 0) << "missing bytes are zero";
    }
    GlobalFree(dib);
    EXPECT_EQ(ReadDibFile(dir.path("none.bmp").c_str()), nullptr);
    EXPECT_EQ(ReadDibHeader(HFILE_ERROR), nullptr);
    bytes.resize(14 + 39);
    EXPECT_EQ(ReadDibFile(dir.file("cut.bmp", bytes).c_str()), nullptr) << "39 header bytes";
}

TEST(DibReading, ReadInChunksReportsShortParts) {
    TempDir dir;
    std::vector<BYTE> bytes(32769);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = BYTE(i * 7);
    std::string path = dir.file("c.bin", bytes);
    std::vector<BYTE> into(40000, 0xEE);
    HFILE f = open_file(path);
    EXPECT_EQ(ReadInChunks(f, into.data(), 0), 0u);
    EXPECT_EQ(ReadInChunks(f, into.data(), 32768), 32768u);
    EXPECT_EQ(_llseek(f, 0, FILE_CURRENT), 32768);
    EXPECT_EQ(ReadInChunks(f, into.data() + 32768, 1), 1u);
    EXPECT_EQ(into[32768], bytes[32768]);
    _llseek(f, 0, FILE_BEGIN);
    EXPECT_EQ(ReadInChunks(f, into.data(), 32769), 32769u);
    EXPECT_EQ(std::memcmp(into.data(), bytes.data(), bytes.size()), 0);
    _llseek(f, 1, FILE_BEGIN);
    EXPECT_EQ(ReadInChunks(f, into.data(), 32769), 0u) << "one byte short";
    _llseek(f, 2, FILE_BEGIN);
    EXPECT_EQ(ReadInChunks(f, into.data(), 32768), 0u) << "the first part short";
    _lclose(f);
}

TEST(DibPalette, ComesFromTheTableOrTheColourCube) {
    TempDir dir;
    Bmp b;
    b.bits = 24;
    b.rows = {1, 2, 3, 0};
    HGLOBAL dib = ReadDibFile(dir.file("24.bmp", build(b)).c_str());
    HPALETTE cube = CreateDibPalette(dib);
    ASSERT_NE(cube, nullptr);
    PALETTEENTRY e[256];
    ASSERT_EQ(GetPaletteEntries(cube, 0, 256, e), 256u);
    auto rgb = [&](int i) { return std::vector<int>{e[i].peRed, e[i].peGreen, e[i].peBlue}; };
    EXPECT_EQ(rgb(0), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(rgb(7), (std::vector<int>{224, 0, 0}));
    EXPECT_EQ(rgb(8), (std::vector<int>{0, 32, 0}));
    EXPECT_EQ(rgb(64), (std::vector<int>{0, 0, 64}));
    EXPECT_EQ(rgb(255), (std::vector<int>{224, 224, 192}));
    DeleteObject(cube);
    GlobalFree(dib);

    for (int bits : {16, 32}) {
        b.bits = bits;
        b.rows.assign(4, 0);
        dib = ReadDibFile(dir.file("d.bmp", build(b)).c_str());
        ASSERT_NE(dib, nullptr);
        EXPECT_EQ(CreateDibPalette(dib), nullptr) << bits << " bits without a table";
        GlobalFree(dib);
    }

    dib = ReadDibFile(dir.file("8.bmp", build(small8())).c_str());
    HPALETTE palette = CreateDibPalette(dib);
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 5u);
    ASSERT_EQ(GetPaletteEntries(palette, 4, 1, e), 1u);
    EXPECT_EQ(e[0].peRed, 4);
    EXPECT_EQ(e[0].peFlags, 0);
    DeleteObject(palette);
    GlobalFree(dib);
    EXPECT_EQ(CreateDibPalette(nullptr), nullptr);
}

} // namespace
