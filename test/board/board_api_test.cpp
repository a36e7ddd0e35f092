// The board through its Glide entry points: lifecycle and lock, switches, state, texture
// memory, frame buffer writes, gamma and the TV view as an observer sees them.
#include "board_harness.h"
#include "board_holder.h"
#include "glide.h"
#include "platform/events.h"
#include "test_support.h"
#include "platform/image.h"
#include "texlib.h"
#include "texture_file.h"
#include "platform/file.h"
#include "vertex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool open_board(GrColorFormat_t format = GR_COLORFORMAT_ARGB,
                GrOriginLocation_t origin = GR_ORIGIN_UPPER_LEFT) {
    grGlideInit();
    grSstSelect(0);
    return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, format, origin, 2, 1);
}

// Opens the board for one test and closes it at the end, whatever happens.
struct OpenBoard {
    bool ok;
    explicit OpenBoard(GrColorFormat_t format = GR_COLORFORMAT_ARGB,
                       GrOriginLocation_t origin = GR_ORIGIN_UPPER_LEFT)
        : ok(open_board(format, origin)) {}
    ~OpenBoard() { grGlideShutdown(); }
};

using test_support::ScopedEnv;

// Shows the back buffer.
void show() {
    grBufferSwap(0);
}

} // namespace

TEST(BoardLifecycle, OpenShutdownAndReopen) {
    EXPECT_FALSE(board::is_open());
    grGlideShutdown(); // harmless when not open
    ASSERT_TRUE(open_board());
    EXPECT_TRUE(board::is_open());
    EXPECT_EQ(grSstScreenWidth(), 640u);
    EXPECT_EQ(grSstScreenHeight(), 480u);
    EXPECT_FALSE(open_board()) << "a second open in the same process";
    grGlideShutdown();
    EXPECT_FALSE(board::is_open());
    grGlideShutdown();
    ASSERT_TRUE(open_board());
    grGlideShutdown();
}

TEST(BoardLifecycle, ModesTheBoardLacksAreRefused) {
    grGlideInit();
    EXPECT_FALSE(grSstWinOpen(0, 8, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB, 0, 2, 1));
    EXPECT_FALSE(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, 7, 0, 2, 1));
    EXPECT_FALSE(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, 0, 2, 2, 1));
    EXPECT_FALSE(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, 0, 0, 5, 1));
    grSstSelect(1);
    EXPECT_FALSE(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, 0, 0, 2, 1));
    grSstSelect(0);
    EXPECT_FALSE(board::is_open());
    // None of the refusals kept the lock.
    ASSERT_TRUE(open_board());
    grGlideShutdown();
}

TEST(BoardLifecycle, SecondProcessIsRefusedUntilTheHolderEnds) {
    wt_test::Child holder("hold_board");
    ASSERT_TRUE(wt_test::start_board_holder(holder));
    EXPECT_FALSE(open_board()) << "the board is the other process's";
    EXPECT_FALSE(board::is_open());
    holder.close_input();
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_TRUE(open_board()) << "free again once the other process ended";
    grGlideShutdown();
}

TEST(BoardControl, AcceptsUnlessTheEnvironmentRefuses) {
    EXPECT_TRUE(grSstControl(GR_CONTROL_RESIZE));
    EXPECT_TRUE(grSstControl(GR_CONTROL_MOVE));
    {
        ScopedEnv refuse("WINTEST_REFUSE_RESIZE", "always");
        EXPECT_FALSE(grSstControl(GR_CONTROL_RESIZE)) << "refused even while not open";
        EXPECT_TRUE(grSstControl(GR_CONTROL_MOVE));
        EXPECT_TRUE(grSstControl(GR_CONTROL_ACTIVATE));
    }
    {
        ScopedEnv refuse("WINTEST_REFUSE_MOVE", "open");
        EXPECT_TRUE(grSstControl(GR_CONTROL_MOVE)) << "not open yet";
        OpenBoard b;
        ASSERT_TRUE(b.ok);
        EXPECT_FALSE(grSstControl(GR_CONTROL_MOVE));
        EXPECT_TRUE(grSstControl(GR_CONTROL_RESIZE));
    }
    ScopedEnv refuse("WINTEST_REFUSE_MOVE", "open");
    EXPECT_TRUE(grSstControl(GR_CONTROL_MOVE)) << "closed again";
}

TEST(BoardFrame, ClearSwapAndColourFormats) {
    {
        OpenBoard b(GR_COLORFORMAT_ABGR);
        ASSERT_TRUE(b.ok);
        grBufferClear(0x00332211u, 0, 0); // ABGR: red 0x11, green 0x22, blue 0x33
        EXPECT_EQ(board::screen_image().at(0, 0), 0u) << "drawn into the back buffer";
        uint64_t frames = board::frame_count();
        show();
        EXPECT_EQ(board::frame_count(), frames + 1);
        EXPECT_EQ(board::screen_image().at(639, 479), 0x112233u);
    }
    OpenBoard b(GR_COLORFORMAT_ARGB);
    grBufferClear(0x00332211u, 0, 0);
    show();
    EXPECT_EQ(board::screen_image().at(0, 0), 0x332211u);
    grRenderBuffer(GR_BUFFER_FRONTBUFFER);
    grBufferClear(0x00445566u, 0, 0);
    EXPECT_EQ(board::screen_image().at(5, 5), 0x445566u) << "front buffer drawn at once";
}

// The retraces come every 1/60 s from the open. A swap waits for the next one after it was
// called, so the n-th swap after the open returns no sooner than n retraces after it, however
// late each swap returned (a late one leaves less than a frame to the next retrace).
TEST(BoardFrame, SwapWaitsForTheRetraceUnlessUnthrottled) {
    using namespace std::chrono;
    constexpr auto k_retrace = duration_cast<steady_clock::duration>(duration<double>(1.0 / 60));
    auto swaps_take = [](int swaps) {
        auto start = steady_clock::now();
        OpenBoard b;
        EXPECT_TRUE(b.ok);
        for (int i = 0; i < swaps; ++i)
            grBufferSwap(1);
        return steady_clock::now() - start;
    };
    {
        ScopedEnv vsync("WINTEST_VSYNC", "1");
        EXPECT_GE(swaps_take(6), 6 * k_retrace);
    }
    ScopedEnv vsync("WINTEST_VSYNC", "0");
    EXPECT_LT(swaps_take(60), 60 * k_retrace) << "unthrottled swaps do not wait for retraces";
}

TEST(BoardFrame, LfbWriteUnderBothOrigins) {
    std::vector<uint32_t> block{0x00010203u, 0xFF040506u, 0x00070809u, 0x000A0B0Cu};
    for (GrOriginLocation_t origin : {GR_ORIGIN_UPPER_LEFT, GR_ORIGIN_LOWER_LEFT}) {
        OpenBoard b(GR_COLORFORMAT_ARGB, origin);
        ASSERT_TRUE(b.ok);
        grBufferClear(0, 0, 0);
        ASSERT_TRUE(grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 64, 48, GR_LFB_SRC_FMT_888, 2, 2, 8,
                                     block.data()));
        show();
        platform::Image img = board::screen_image();
        int top = origin == GR_ORIGIN_UPPER_LEFT ? 48 : 479 - 48, down = top == 48 ? 1 : -1;
        EXPECT_EQ(img.at(64, top), 0x010203u);
        EXPECT_EQ(img.at(65, top), 0x040506u);
        EXPECT_EQ(img.at(64, top + down), 0x070809u);
        EXPECT_EQ(img.at(65, top + down), 0x0A0B0Cu);
        EXPECT_EQ(img.at(63, top), 0u);
    }
}

TEST(BoardFrame, LfbWriteClipsAndChecksItsArguments) {
    OpenBoard b;
    ASSERT_TRUE(b.ok);
    grBufferClear(0, 0, 0);
    std::vector<uint32_t> big(100 * 100, 0x00FFFFFFu);
    EXPECT_TRUE(grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 600, 450, GR_LFB_SRC_FMT_888, 100, 100, 400,
                                 big.data()));
    EXPECT_TRUE(grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 5000, 5000, GR_LFB_SRC_FMT_888, 100, 100,
                                 400, big.data()));
    uint16_t rgb565[2] = {0xF800, 0x07E0};
    EXPECT_TRUE(grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 0, 0, GR_LFB_SRC_FMT_565, 2, 1, 4, rgb565));
    EXPECT_FALSE(grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 0, 0, 3, 1, 1, 4, big.data()));
    EXPECT_FALSE(
        grLfbWriteRegion(GR_BUFFER_AUXBUFFER, 0, 0, GR_LFB_SRC_FMT_888, 1, 1, 4, big.data()));
    EXPECT_FALSE(
        grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 0, 0, GR_LFB_SRC_FMT_888, 1, 1, 4, nullptr));
    show();
    platform::Image img = board::screen_image();
    EXPECT_EQ(img.at(639, 479), 0xFFFFFFu);
    EXPECT_EQ(img.at(599, 479), 0u);
    EXPECT_EQ(img.at(0, 0), 0xFF0000u);
    EXPECT_EQ(img.at(1, 0), 0x00FF00u);
}

TEST(BoardState, SavedStateIsRestoredWhole) {
    OpenBoard b;
    ASSERT_TRUE(b.ok);
    grBufferClear(0x00FFFFFFu, 0, 0);
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    guAlphaSource(GR_ALPHASOURCE_ITERATED_ALPHA);
    grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE,
                         GR_BLEND_ZERO);
    GrState saved, again;
    grGlideGetState(&saved);
    // Change everything, then restore.
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
    grColorCombine(GR_COMBINE_FUNCTION_ZERO, 0, 0, 0, FXTRUE);
    grAlphaTestFunction(GR_CMP_NEVER);
    grRenderBuffer(GR_BUFFER_FRONTBUFFER);
    grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ZERO);
    guTexSource(5);
    grDitherMode(GR_DITHER_DISABLE);
    grGlideGetState(&again);
    EXPECT_NE(std::memcmp(&saved, &again, sizeof saved), 0);
    grGlideSetState(&saved);
    grGlideGetState(&again);
    EXPECT_EQ(std::memcmp(&saved, &again, sizeof saved), 0);
    // And it draws as before: half-transparent red over white in the back buffer.
    GrVertex p = vertex(10, 10, 255, 0, 0, 128);
    grDrawPoint(&p);
    show();
    EXPECT_EQ(board::screen_image().at(10, 10), 0xFF7F7Fu);
}

TEST(BoardTextures, MemoryRunsOutAndHandlesStayValid) {
    OpenBoard b;
    ASSERT_TRUE(b.ok);
    auto allocate = [](GrTextureFormat_t format, GrLOD_t small_lod) {
        return guTexAllocateMemory(
            GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, 256, 256, format, GR_MIPMAP_NEAREST, small_lod,
            GR_LOD_256, GR_ASPECT_1x1, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP,
            GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
    };
    // 16 textures of 128 KiB fill 2 MiB exactly; the 17th does not fit.
    std::vector<GrMipMapId_t> ids;
    for (int i = 0; i < 16; ++i) {
        ids.push_back(allocate(GR_TEXFMT_RGB_565, GR_LOD_256));
        ASSERT_NE(ids.back(), GR_NULL_MIPMAP_HANDLE) << i;
    }
    EXPECT_EQ(allocate(GR_TEXFMT_RGB_565, GR_LOD_256), GR_NULL_MIPMAP_HANDLE);
    EXPECT_EQ(allocate(GR_TEXFMT_INTENSITY_8, GR_LOD_1), GR_NULL_MIPMAP_HANDLE);
    std::vector<uint16_t> texels(256 * 256, 0xF800);
    EXPECT_TRUE(guTexDownloadMipMap(ids[15], texels.data(), nullptr));
    EXPECT_FALSE(guTexDownloadMipMap(99, texels.data(), nullptr));
    EXPECT_FALSE(guTexDownloadMipMap(GR_NULL_MIPMAP_HANDLE, texels.data(), nullptr));
    // Wrong descriptions are refused rather than guessed.
    EXPECT_EQ(guTexAllocateMemory(GR_TMU1, 3, 1, 1, GR_TEXFMT_INTENSITY_8, 0, GR_LOD_1, GR_LOD_1,
                                  GR_ASPECT_1x1, 0, 0, 0, 0, 0.0f, FXFALSE),
              GR_NULL_MIPMAP_HANDLE);
    // Closing the board frees its texture memory.
    grGlideShutdown();
    EXPECT_EQ(allocate(GR_TEXFMT_INTENSITY_8, GR_LOD_256), GR_NULL_MIPMAP_HANDLE) << "closed";
    ASSERT_TRUE(open_board());
    EXPECT_NE(allocate(GR_TEXFMT_RGB_565, GR_LOD_256), GR_NULL_MIPMAP_HANDLE);
}

TEST(BoardTextures, InvalidDescriptionsAreRefused) {
    OpenBoard b;
    ASSERT_TRUE(b.ok);
    auto allocate = [](int w, int h, GrTextureFormat_t format, GrLOD_t small_lod, GrLOD_t large_lod,
                       GrAspectRatio_t aspect) {
        return guTexAllocateMemory(GR_TMU0, 3, w, h, format, 0, small_lod, large_lod, aspect, 0, 0,
                                   0, 0, 0.0f, FXFALSE);
    };
    EXPECT_NE(allocate(256, 128, GR_TEXFMT_RGB_565, GR_LOD_1, GR_LOD_256, GR_ASPECT_2x1),
              GR_NULL_MIPMAP_HANDLE);
    EXPECT_EQ(allocate(256, 256, GR_TEXFMT_RGB_565, GR_LOD_1, GR_LOD_256, GR_ASPECT_2x1),
              GR_NULL_MIPMAP_HANDLE);
    EXPECT_EQ(allocate(256, 256, GR_TEXFMT_RGB_565, GR_LOD_256, GR_LOD_1, GR_ASPECT_1x1),
              GR_NULL_MIPMAP_HANDLE);
    EXPECT_EQ(allocate(256, 256, 0x7, GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1), GR_NULL_MIPMAP_HANDLE);
    EXPECT_EQ(allocate(256, 256, GR_TEXFMT_RGB_565, 9, GR_LOD_256, GR_ASPECT_1x1),
              GR_NULL_MIPMAP_HANDLE);
    EXPECT_EQ(allocate(256, 256, GR_TEXFMT_RGB_565, GR_LOD_1, GR_LOD_256, 7),
              GR_NULL_MIPMAP_HANDLE);
}

TEST(Board3df, GetInfoAndLoadThroughWindowsPaths) {
    // The program names files with backslashes and in any case.
    std::string dir = test_support::prefix_path("Tex");
    ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    texlib::Picture p(2, 2);
    p.argb = {0xFF010203u, 0xFF040506u, 0xFF070809u, 0xFF0A0B0Cu};
    auto texture = texlib::encode_3df(GR_TEXFMT_P_8, texlib::build_levels(p, true));
    ASSERT_TRUE(texture);
    ASSERT_TRUE(texlib::write_3df(dir + "/Pal.3df", *texture));
    std::string windows = std::string(std::getenv("WINTEST_PREFIX")) + "\\tex\\PAL.3DF";

    Gu3dfInfo info{};
    ASSERT_TRUE(gu3dfGetInfo(windows.c_str(), &info));
    EXPECT_EQ(info.header.width, 2u);
    EXPECT_EQ(info.header.format, GR_TEXFMT_P_8);
    EXPECT_EQ(info.mem_required, 5u);
    std::vector<uint8_t> data(info.mem_required);
    EXPECT_FALSE(gu3dfLoad(windows.c_str(), &info)) << "no data area";
    info.data = data.data();
    ASSERT_TRUE(gu3dfLoad(windows.c_str(), &info));
    EXPECT_EQ(info.table.palette.data[data[3]], 0xFF0A0B0Cu);
    // A data area smaller than the file needs is not overrun.
    info.mem_required = 4;
    EXPECT_FALSE(gu3dfLoad(windows.c_str(), &info));
    EXPECT_FALSE(gu3dfGetInfo((dir + "/missing.3df").c_str(), &info));
    EXPECT_FALSE(gu3dfGetInfo(nullptr, &info));
    EXPECT_FALSE(gu3dfGetInfo(windows.c_str(), nullptr));
}

TEST(Board3df, DrawsALoadedTextureOverTheScreen) {
    auto bytes = platform::read_file(std::string(WINTEST_SOURCE_DIR "/data") + "/sample_p8.3df");
    ASSERT_TRUE(bytes);
    auto file = board::parse_3df(*bytes);
    ASSERT_TRUE(file);
    OpenBoard b;
    ASSERT_TRUE(b.ok);
    Gu3dfInfo info{};
    std::string path = std::string(WINTEST_SOURCE_DIR "/data") + "/sample_p8.3df";
    ASSERT_TRUE(gu3dfGetInfo(path.c_str(), &info));
    std::vector<uint8_t> data(info.mem_required);
    info.data = data.data();
    ASSERT_TRUE(gu3dfLoad(path.c_str(), &info));
    GrMipMapId_t id = guTexAllocateMemory(
        GR_TMU0, 3, int(info.header.width), int(info.header.height), info.header.format,
        GR_MIPMAP_NEAREST, info.header.small_lod, info.header.large_lod, info.header.aspect_ratio,
        0, 0, GR_TEXTUREFILTER_POINT_SAMPLED, GR_TEXTUREFILTER_POINT_SAMPLED, 0.0f, FXFALSE);
    ASSERT_NE(id, GR_NULL_MIPMAP_HANDLE);
    ASSERT_TRUE(guTexDownloadMipMap(id, data.data(), &info.table.nccTable));
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                   GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    guTexSource(id);
    // 64 x 64 texels on a 64 x 64 square at (100, 100): one texel per pixel.
    GrVertex v[4];
    float xy[4][2] = {{100, 100}, {164, 100}, {164, 164}, {100, 164}};
    float st[4][2] = {{0, 0}, {256, 0}, {256, 256}, {0, 256}};
    for (int i = 0; i < 4; ++i) {
        v[i] = vertex(xy[i][0], xy[i][1], 0, 0, 0);
        v[i].tmuvtx[0].sow = st[i][0];
        v[i].tmuvtx[0].tow = st[i][1];
    }
    grDrawTriangle(&v[0], &v[1], &v[2]);
    grDrawTriangle(&v[2], &v[3], &v[0]);
    show();
    platform::Image img = board::screen_image();
    for (int y = 0; y < 64; y += 5)
        for (int x = 0; x < 64; x += 3)
            EXPECT_EQ(img.at(100 + x, 100 + y),
                      file->palette[file->texels[size_t(y * 64 + x)]] & 0xFFFFFFu);
}

TEST(BoardGamma, ScanOutUsesTheTablesAndZeroKeepsAChannel) {
    test_support::EventRecorder log;
    OpenBoard b;
    ASSERT_TRUE(b.ok);
    grBufferClear(0x00408020u, 0, 0);
    show();
    EXPECT_TRUE(grGammaCorrectionKVX(2.0f, 1.0f, 0.5f));
    auto curve = [](int in, double g) {
        return uint32_t(std::lround(255.0 * std::pow(in / 255.0, 1.0 / g)));
    };
    uint32_t expected = curve(0x40, 2.0) << 16 | 0x80u << 8 | curve(0x20, 0.5);
    EXPECT_EQ(board::screen_image().at(3, 3), expected);
    // Green alone: red and blue keep their curves.
    EXPECT_TRUE(grGammaCorrectionKVX(0.0f, 1.7f, 0.0f));
    expected = curve(0x40, 2.0) << 16 | curve(0x80, 1.7) << 8 | curve(0x20, 0.5);
    EXPECT_EQ(board::screen_image().at(3, 3), expected);
    EXPECT_EQ(board::gamma(), (std::array<float, 3>{2.0f, 1.7f, 0.5f}));
    // Large values are applied as sent; negative and NaN keep the curve.
    EXPECT_TRUE(grGammaCorrectionKVX(25.5f, -1.0f, NAN));
    EXPECT_EQ(board::screen_image().at(3, 3) >> 16, curve(0x40, 25.5));
    EXPECT_EQ(board::gamma()[1], 1.7f);
    ASSERT_EQ(log.all().size(), 3u);
    EXPECT_EQ(log.all()[1].kind, platform::EventKind::Gamma);
    EXPECT_EQ(log.all()[1].gamma[1], 1.7f);
    EXPECT_EQ(log.all()[1].gamma[0], 0.0f);
    grGammaCorrectionKVX(1.0f, 1.0f, 1.0f);
}

TEST(BoardTv, RecordDrivesTheTvView) {
    test_support::EventRecorder log;
    OpenBoard b;
    ASSERT_TRUE(b.ok);
    grBufferClear(0x00FFFFFFu, 0, 0);
    show();
    board::TvRecord tv = board::k_tv_defaults;
    tv[board::k_tv_scan] = 0; // underscan: white picture inside a black border
    ASSERT_TRUE(grSetTVOperationKVX(tv.data()));
    platform::Image under = board::tv_image();
    EXPECT_EQ(under.at(320, 240), 0xFFFFFFu);
    EXPECT_EQ(under.at(5, 240), 0u);
    EXPECT_EQ(under.at(320, 5), 0u);
    tv[board::k_tv_scan] = 1; // overscan: the picture fills the screen
    ASSERT_TRUE(grSetTVOperationKVX(tv.data()));
    EXPECT_EQ(board::tv_image().at(0, 0), 0xFFFFFFu);
    tv[board::k_tv_scan] = 0;
    tv[board::k_tv_xshift] = 30; // the picture moves right
    ASSERT_TRUE(grSetTVOperationKVX(tv.data()));
    platform::Image shifted = board::tv_image();
    EXPECT_EQ(shifted.at(50, 240), 0u);
    EXPECT_EQ(shifted.at(75, 240), 0xFFFFFFu);
    EXPECT_EQ(shifted.at(615, 240), 0xFFFFFFu); // composite fringes end a few pixels inside
    tv[board::k_tv_brightness] = 51;            // darker
    ASSERT_TRUE(grSetTVOperationKVX(tv.data()));
    EXPECT_LT(board::tv_image().at(320, 240) & 0xFF, 0xFFu);
    tv[board::k_tv_enable] = 0; // output off: blank
    ASSERT_TRUE(grSetTVOperationKVX(tv.data()));
    platform::Image off = board::tv_image();
    EXPECT_EQ(off.pixels, std::vector<uint32_t>(off.pixels.size(), 0u));
    EXPECT_EQ(board::tv_record(), tv);
    EXPECT_FALSE(grSetTVOperationKVX(nullptr));
    ASSERT_EQ(log.all().size(), 5u);
    EXPECT_EQ(log.all().back().kind, platform::EventKind::Tv);
    EXPECT_EQ(log.all().back().tv[board::k_tv_brightness], 51);
    EXPECT_EQ(log.all().back().tv[board::k_tv_enable], 0);
    ASSERT_TRUE(grSetTVOperationKVX(board::k_tv_defaults.data()));
}

TEST(BoardTv, SharpnessAndFlickerFilterSoftenFineLines) {
    OpenBoard b;
    ASSERT_TRUE(b.ok);
    std::vector<uint32_t> lines(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            lines[size_t(y * 64 + x)] = ((x + y) & 1) ? 0xFFFFFFu : 0u; // one-pixel checker
    grBufferClear(0, 0, 0);
    grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 288, 208, GR_LFB_SRC_FMT_888, 64, 64, 256, lines.data());
    show();
    board::TvRecord tv = board::k_tv_defaults;
    tv[board::k_tv_scan] = 1;
    tv[board::k_tv_output] = 1; // S-video: no cross-colour on the checker
    auto contrast = [&] {
        EXPECT_TRUE(grSetTVOperationKVX(tv.data()));
        platform::Image img = board::tv_image();
        uint32_t lo = 255, hi = 0;
        for (int x = 300; x < 340; ++x) {
            uint32_t v = img.at(x, 240) & 0xFF;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        return int(hi) - int(lo);
    };
    tv[board::k_tv_sharpness] = 3;
    tv[board::k_tv_flicker] = 0;
    int crisp = contrast();
    tv[board::k_tv_sharpness] = 1;
    int soft = contrast();
    tv[board::k_tv_sharpness] = 3;
    tv[board::k_tv_flicker] = 3;
    int filtered = contrast();
    EXPECT_GT(crisp, 128) << "scaled by 10/9, the checker keeps most of its contrast";
    EXPECT_LT(soft, crisp);
    EXPECT_LT(filtered, crisp);
    ASSERT_TRUE(grSetTVOperationKVX(board::k_tv_defaults.data()));
}

TEST(BoardHarness, ShutdownWritesThePicturesTheEnvironmentAsksFor) {
    std::string screen = test_support::prefix_path("screen.png"),
                tv = test_support::prefix_path("tv.png");
    std::remove(screen.c_str());
    std::remove(tv.c_str());
    ScopedEnv a("WINTEST_BOARD_PNG", screen.c_str());
    ScopedEnv c("WINTEST_TV_PNG", tv.c_str());
    grGlideShutdown(); // not open: nothing written
    EXPECT_TRUE(platform::read_png(screen).empty());
    ASSERT_TRUE(open_board());
    grBufferClear(0x00123456u, 0, 0);
    show();
    grGlideShutdown();
    platform::Image img = platform::read_png(screen);
    ASSERT_EQ(img.width, 640);
    ASSERT_EQ(img.height, 480);
    EXPECT_EQ(img.at(100, 100), 0x123456u);
    EXPECT_FALSE(platform::read_png(tv).empty());
    // The last frame stays on the screen after the board closes.
    EXPECT_EQ(board::screen_image().at(0, 0), 0x123456u);
}
