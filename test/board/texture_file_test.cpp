// 3DF files: every format through the tool and back, damaged and truncated files.
#include "texlib.h"
#include "texture_file.h"
#include "platform/file.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace board;

namespace {

std::vector<uint8_t> bytes_of(std::string_view text) {
    return {text.begin(), text.end()};
}

// Colours that every format holds exactly: its own levels on each channel.
struct FormatCase {
    const char* name;
    std::vector<uint32_t> colours; // what the decoded texels must be
};

const std::vector<FormatCase>& format_cases() {
    static const std::vector<FormatCase> s_cases = {
        {"i8", {0xFF000000u, 0xFF7B7B7Bu, 0xFFFFFFFFu, 0xFF010101u}},
        {"a8", {0x00000000u, 0x80808080u, 0xFFFFFFFFu, 0x11111111u}},
        {"ai44", {0x00000000u, 0x11EEEEEEu, 0xFF555555u, 0x88FFFFFFu}},
        {"rgb332", {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFF6DB655u}},
        {"p8", {0xFF123456u, 0xFFABCDEFu, 0xFF000000u, 0xFFFF8000u}},
        {"rgb565", {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFF8410BDu}},
        {"argb1555", {0xFFFF0000u, 0x0000FF00u, 0xFF0000FFu, 0x00840821u}},
        {"argb4444", {0xEEFF1100u, 0x1100FF22u, 0xFF3344FFu, 0x00000000u}},
        {"ai88", {0x12343434u, 0xFE010101u, 0x00FFFFFFu, 0x80808080u}},
        {"argb8332", {0x12FF0000u, 0xFE00FF00u, 0x800000FFu, 0x00DBDBAAu}},
        {"ap88", {0x12123456u, 0xFEABCDEFu, 0x00000000u, 0x80FF8000u}},
    };
    return s_cases;
}

// A 2 x 2 picture of the four colours, with its two levels when asked.
texlib::Picture four(const std::vector<uint32_t>& colours) {
    texlib::Picture p(2, 2);
    p.argb = colours;
    return p;
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

TEST(TextureFile, EveryFormatRoundTripsThroughTheTool) {
    for (const FormatCase& fc : format_cases()) {
        SCOPED_TRACE(fc.name);
        const TexelFormat* format = format_by_name(fc.name);
        ASSERT_NE(format, nullptr);
        std::string png = test_support::prefix_path("in.png"),
                    tex = test_support::prefix_path("out.3df"),
                    back = test_support::prefix_path("back");
        ASSERT_TRUE(texlib::write_png(png, four(fc.colours)));
        std::string to3df = std::string(WINTEST_BIN_DIR "/texconv") + " to3df " + png + " " + tex +
                            " --mipmaps --format " + fc.name;
        ASSERT_EQ(std::system(to3df.c_str()), 0);
        auto bytes = platform::read_file(tex);
        ASSERT_TRUE(bytes);
        auto texture = parse_3df(*bytes);
        ASSERT_TRUE(texture) << texture.message();
        EXPECT_EQ(texture->header.format, format->format);
        EXPECT_EQ(texture->header.width, 2u);
        EXPECT_EQ(texture->header.large_lod, GR_LOD_2);
        EXPECT_EQ(texture->header.small_lod, GR_LOD_1);
        auto levels = texlib::decode_3df(*texture);
        ASSERT_EQ(levels.size(), 2u);
        EXPECT_EQ(levels[0].argb, fc.colours);
        // And back to PNG: the largest level as a picture.
        std::string topng = std::string(WINTEST_BIN_DIR "/texconv") + " topng " + tex + " " + back;
        ASSERT_EQ(std::system(topng.c_str()), 0);
        auto picture = texlib::read_png(back + "_2x2.png");
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->argb, fc.colours);
        EXPECT_TRUE(texlib::read_png(back + "_1x1.png"));
    }
}

TEST(TextureFile, SixteenBitTexelsAreBigEndianInTheFile) {
    texlib::Picture p(1, 1);
    p.argb = {0xFFFF0000u}; // rgb565 0xF800
    auto texture = texlib::encode_3df(GR_TEXFMT_RGB_565, {p});
    ASSERT_TRUE(texture);
    std::vector<uint8_t> bytes = serialize_3df(*texture);
    std::string header = "3df v1.1\nrgb565\nlod range: 1 1\naspect ratio: 1 1\n";
    ASSERT_EQ(bytes.size(), header.size() + 2);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + ptrdiff_t(header.size())), header);
    EXPECT_EQ(bytes[header.size()], 0xF8);
    EXPECT_EQ(bytes[header.size() + 1], 0x00);
}

TEST(TextureFile, HeaderGivesSizesLevelsAndAspect) {
    auto h = parse_3df_header(bytes_of("3df v1.1\nI8\nlod range: 8 64\naspect ratio: 1 4\n"));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->header.width, 16u);
    EXPECT_EQ(h->header.height, 64u);
    EXPECT_EQ(h->header.large_lod, GR_LOD_64);
    EXPECT_EQ(h->header.small_lod, GR_LOD_8);
    EXPECT_EQ(h->header.aspect_ratio, GR_ASPECT_1x4);
    EXPECT_EQ(h->texel_bytes, 16u * 64 + 8 * 32 + 4 * 16 + 2 * 8);
    auto crlf = parse_3df_header(bytes_of("3df v1.0\r\nrgb565\r\nlod range: 1 256\r\naspect "
                                          "ratio: 2 1\r\n"));
    ASSERT_TRUE(crlf);
    EXPECT_EQ(crlf->header.width, 256u);
    EXPECT_EQ(crlf->header.height, 128u);
}

TEST(TextureFile, DamagedHeadersAreRefused) {
    const char* damaged[] = {
        "",
        "3df v1.1\ni8\nlod range: 1 256\n",                        // three lines
        "3dg v1.1\ni8\nlod range: 1 256\naspect ratio: 1 1\n",     // not 3df
        "3df v1.1\nyiq\nlod range: 1 256\naspect ratio: 1 1\n",    // needs a table
        "3df v1.1\nrgb24\nlod range: 1 256\naspect ratio: 1 1\n",  // unknown format
        "3df v1.1\ni8\nlod range: 256 1\naspect ratio: 1 1\n",     // reversed
        "3df v1.1\ni8\nlod range: 1 512\naspect ratio: 1 1\n",     // too large
        "3df v1.1\ni8\nlod range: 1 100\naspect ratio: 1 1\n",     // not a power of two
        "3df v1.1\ni8\nlod range: 1 256\naspect ratio: 3 2\n",     // no such aspect
        "3df v1.1\ni8\nlod range: 1 256\naspect ratio: 0 0\n",     // no divisor
        "3df v1.1\ni8\nlod range: -1 256\naspect ratio: 1 1\n",    // sign
        "3df v1.1\ni8\nlod range: 1 256 9\naspect ratio: 1 1\n",   // extra word
        "3df v1.1\ni8\nlod range: 0x1 0x100\naspect ratio: 1 1\n", // not decimal
    };
    for (const char* text : damaged)
        EXPECT_FALSE(parse_3df_header(bytes_of(text))) << text;
    // A header that never ends within its bound.
    std::string endless =
        "3df v1.1\ni8\nlod range: 1 256\naspect ratio: 1 1" + std::string(400, ' ') + "\n";
    EXPECT_FALSE(parse_3df_header(bytes_of(endless)));
}

TEST(TextureFile, EveryTruncatedPrefixIsRefused) {
    // The shipped files and a small file of every format (palette formats included).
    std::vector<std::vector<uint8_t>> files;
    for (const char* name :
         {"sample256.3df", "sample_argb4444.3df", "sample_p8.3df", "testtv.3df", "TESTGAMA.3DF"}) {
        auto bytes = platform::read_file(std::string(WINTEST_SOURCE_DIR "/data") + "/" + name);
        ASSERT_TRUE(bytes) << name;
        files.push_back(*bytes);
    }
    for (const FormatCase& fc : format_cases()) {
        auto texture = texlib::encode_3df(format_by_name(fc.name)->format,
                                          texlib::build_levels(four(fc.colours), true));
        ASSERT_TRUE(texture);
        files.push_back(serialize_3df(*texture));
    }
    for (const auto& file : files) {
        ASSERT_TRUE(parse_3df(file));
        // Each prefix in its own heap block, so that a read past its end is caught by the
        // sanitizer build.
        for (size_t n = 0; n < file.size(); n += (file.size() > 4096 && n > 2048) ? 997 : 1) {
            std::vector<uint8_t> prefix(file.begin(), file.begin() + ptrdiff_t(n));
            EXPECT_FALSE(parse_3df(prefix)) << n << " of " << file.size();
        }
        std::vector<uint8_t> short_one(file.begin(), file.end() - 1);
        EXPECT_FALSE(parse_3df(short_one));
    }
}

TEST(TextureFile, BytesAfterTheSmallestLevelAreIgnored) {
    auto texture = texlib::encode_3df(GR_TEXFMT_INTENSITY_8, {four(format_cases()[0].colours)});
    ASSERT_TRUE(texture);
    std::vector<uint8_t> bytes = serialize_3df(*texture);
    bytes.push_back(0x55);
    auto parsed = parse_3df(bytes);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->texels, texture->texels);
}

TEST(TextureFile, PaletteIsReadBigEndian) {
    std::string header = "3df v1.1\np8\nlod range: 1 1\naspect ratio: 1 1\n";
    std::vector<uint8_t> bytes = bytes_of(header);
    for (int i = 0; i < 256; ++i)
        bytes.insert(bytes.end(), {uint8_t(0xFF), uint8_t(i), uint8_t(0x10), uint8_t(0x20)});
    bytes.push_back(7);
    auto texture = parse_3df(bytes);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->palette[7], 0xFF071020u);
    GuTexTable table{};
    std::memcpy(table.palette.data, texture->palette.data(), sizeof table.palette.data);
    uint32_t out = 0;
    ASSERT_TRUE(decode_texels(GR_TEXFMT_P_8, texture->texels.data(), 1, &table, &out));
    EXPECT_EQ(out, 0xFF071020u);
    EXPECT_FALSE(decode_texels(GR_TEXFMT_P_8, texture->texels.data(), 1, nullptr, &out));
}

TEST(TextureFile, ToolRefusesPicturesThatAreNoTexture) {
    std::string png = test_support::prefix_path("odd.png"),
                tex = test_support::prefix_path("odd.3df");
    ASSERT_TRUE(texlib::write_png(png, texlib::Picture(3, 2)));
    std::string cmd =
        std::string(WINTEST_BIN_DIR "/texconv") + " to3df " + png + " " + tex + " 2>/dev/null";
    EXPECT_NE(std::system(cmd.c_str()), 0);
    ASSERT_TRUE(texlib::write_png(png, texlib::Picture(16, 1))); // 16:1 is too narrow
    EXPECT_NE(std::system(cmd.c_str()), 0);
    ASSERT_TRUE(write_bytes(tex, bytes_of("3df v1.1\ni8\nlod range: 1 2\naspect ratio: 1 1\n")));
    std::string topng = std::string(WINTEST_BIN_DIR "/texconv") + " topng " + tex + " " +
                        test_support::prefix_path("x") + " 2>/dev/null";
    EXPECT_NE(std::system(topng.c_str()), 0);
}

// A PNG header may claim any size: the reader refuses one no texture needs before it
// allocates the pixels, and texconv says so in its own words instead of failing to allocate.
TEST(TextureFile, ToolRefusesAPictureHeaderLargerThanAnyTexture) {
    std::string png = test_support::prefix_path("huge.png"),
                tex = test_support::prefix_path("huge.3df");
    ASSERT_TRUE(texlib::write_png(png, texlib::Picture(1, 1)));
    std::string bytes = test_support::read_text(png);
    ASSERT_GT(bytes.size(), 33u);
    ASSERT_EQ(bytes.substr(12, 4), "IHDR");
    for (int at : {16, 20}) // width and height, big-endian: 1,000,000 each
        for (int i = 0; i < 4; ++i)
            bytes[size_t(at + i)] = char((1000000u >> (24 - 8 * i)) & 0xFF);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + 12), 17);
    for (int i = 0; i < 4; ++i)
        bytes[size_t(29 + i)] = char((crc >> (24 - 8 * i)) & 0xFF);
    ASSERT_TRUE(write_bytes(png, std::vector<uint8_t>(bytes.begin(), bytes.end())));

    auto picture = texlib::read_png(png);
    ASSERT_FALSE(picture);
    EXPECT_NE(picture.message().find("1000000 x 1000000"), std::string::npos) << picture.message();

    auto run = test_support::run_program(WINTEST_BIN_DIR "/texconv", {"to3df", png, tex});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err.rfind("texconv: ", 0), 0u) << run.err;
}
