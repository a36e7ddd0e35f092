// The TV test image reader over files written into the prefix's drive C.
#include "tv/tv.h"

#include "platform/prefix.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Each test process has a prefix of its own (test/support/test_main.cpp).
std::string prefix() {
    return platform::prefix_dir();
}

// Writes the file as drive_c/Tv/TestTV.3DF; the reader is given the Windows path in other
// case, as the program builds it.
const char* write_image_file(const std::string& bytes) {
    std::filesystem::create_directories(prefix() + "/drive_c/Tv");
    std::ofstream(prefix() + "/drive_c/Tv/TestTV.3DF", std::ios::binary | std::ios::trunc) << bytes;
    return "C:\\tv\\testtv.3df";
}

std::string header(const char* format, const char* sizes, const char* aspect,
                   const char* eol = "\n") {
    return std::string("3df v1.0") + eol + format + eol + "lod range: " + sizes + eol +
           "aspect ratio: " + aspect + eol;
}

// Intensity bytes that differ from row to row and along each row.
std::string texels(size_t count) {
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i)
        s[i] = char((i * 7 + i / 256) & 0xFF);
    return s;
}

struct Read {
    DWORD* pixels{nullptr};
    int width{-1};
    int height{-1};
    ~Read() { std::free(pixels); }
};

void read_image(const char* path, Read& r) {
    r.pixels = ReadTvTestImage(path, &r.width, &r.height);
}

TEST(TvImage, SizeFollowsTheLargerAspectTerm) {
    struct Case {
        const char* sizes;
        const char* aspect;
        int width, height;
    } cases[] = {
        {"1 256", "1 1", 256, 256},  {"1 256", "2 1", 256, 128},      {"1 256", "1 4", 64, 256},
        {"1 256", "3 2", 256, 85},   {"1 0x100", "0x1 01", 256, 256}, {"1 0400", "1 010", 32, 256},
        {"1 +256", "1 2", 128, 256},
    };
    for (const Case& c : cases) {
        size_t count = size_t(c.width) * c.height;
        Read r;
        read_image(write_image_file(header("I8", c.sizes, c.aspect) + texels(count)), r);
        ASSERT_NE(r.pixels, nullptr) << c.sizes << " / " << c.aspect;
        EXPECT_EQ(r.width, c.width) << c.aspect;
        EXPECT_EQ(r.height, c.height) << c.aspect;
    }
}

TEST(TvImage, EachIntensityBecomesAGreyPixelInFileOrder) {
    std::string data = texels(256 * 128);
    data[0] = char(0x80);
    Read r;
    read_image(write_image_file(header("i8", "1 256", "2 1") + data + "trailing levels"), r);
    ASSERT_NE(r.pixels, nullptr);
    const auto* bytes = reinterpret_cast<const uint8_t*>(r.pixels);
    EXPECT_EQ(bytes[0], 0x80);
    EXPECT_EQ(bytes[1], 0x80);
    EXPECT_EQ(bytes[2], 0x80);
    EXPECT_EQ(bytes[3], 0x00);
    for (size_t i = 0; i < data.size(); ++i) {
        uint8_t v = uint8_t(data[i]);
        ASSERT_EQ(r.pixels[i], DWORD(v | v << 8 | v << 16)) << "pixel " << i;
    }
}

TEST(TvImage, CarriageReturnLineEndsReadLikeLineFeeds) {
    Read r;
    read_image(write_image_file(header("I8", "1 16", "1 1", "\r\n") + texels(256)), r);
    ASSERT_NE(r.pixels, nullptr);
    EXPECT_EQ(r.width, 16);
    EXPECT_EQ(r.height, 16);
    EXPECT_EQ(r.pixels[255], DWORD(uint8_t(texels(256)[255]) * 0x010101u));
}

TEST(TvImage, UnusableHeadersGiveNoImageAndLeaveTheSizeAlone) {
    const std::string padding(90, ' ');
    const std::vector<std::string> files = {
        header("RGB565", "1 16", "1 1"),
        header("I88", "1 16", "1 1"),
        header("I8", "1 16", "0 1"),
        header("I8", "1 16", "1 -2"),
        header("I8", "1 0", "1 1"),
        header("I8", "1 -16", "1 1"),
        header("I8", "1 1", "2 1"),    // height 1 / 2 = 0
        header("I8", "1 8192", "1 1"), // larger than the reader takes
        header("I8", "1 0x7fffffffff", "1 1"),
        header("I8", "1 16", "1"), // a field missing
        header("I8", "x 16", "1 1"),
        "3df v12345678\nI8\nlod range: 1 16\naspect ratio: 1 1\n",           // version over 7
        "3df v1.0\nI8abcdefghij\nlod range: 1 16\naspect ratio: 1 1\n",      // name over 11
        "3df v1.0\nI8\nlod range: 1 16\naspect ratio: 1 1" + padding + "\n", // over 100 bytes
        " 3df v1.0\nI8\nlod range: 1 16\naspect ratio: 1 1\n",
    };
    for (const std::string& file : files) {
        Read r;
        read_image(write_image_file(file + texels(256)), r);
        EXPECT_EQ(r.pixels, nullptr) << file;
        EXPECT_EQ(r.width, -1) << file;
        EXPECT_EQ(r.height, -1) << file;
    }
    Read missing;
    read_image("C:\\tv\\nothing.3df", missing);
    EXPECT_EQ(missing.pixels, nullptr);
}

TEST(TvImage, EveryTruncatedFileFailsCleanlyOrGivesBlackForMissingTexels) {
    const std::string head = header("I8", "1 8", "1 2"); // 4 wide, 8 high
    const std::string data = texels(32);
    const std::string whole = head + data;
    for (size_t n = 0; n <= whole.size(); ++n) {
        Read r;
        read_image(write_image_file(whole.substr(0, n)), r);
        if (n < head.size()) {
            EXPECT_EQ(r.pixels, nullptr) << "prefix " << n;
            continue;
        }
        ASSERT_NE(r.pixels, nullptr) << "prefix " << n;
        ASSERT_EQ(r.width, 4);
        ASSERT_EQ(r.height, 8);
        for (size_t i = 0; i < data.size(); ++i) {
            uint8_t v = i < n - head.size() ? uint8_t(data[i]) : 0;
            ASSERT_EQ(r.pixels[i], DWORD(v) * 0x010101u) << "prefix " << n << " pixel " << i;
        }
    }
}

} // namespace
