// Frames of the three tests on the software board, unthrottled, and the floor: a memset of
// one frame's pixels.
#include "board_harness.h"
#include "glide.h"
#include "gamma/gamma.h"
#include "glide/glide_test.h"
#include "platform/image.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string k_sample = std::string(WINTEST_SOURCE_DIR) + "/data/sample256.3df";

// Opens the board once for all benchmarks (unthrottled, in a prefix of its own).
bool open_board(GrColorFormat_t format, GrOriginLocation_t origin) {
    static bool s_env = [] {
        char dir[] = "/tmp/wintest-bench-XXXXXX";
        if (mkdtemp(dir))
            setenv("WINTEST_PREFIX", dir, 1);
        setenv("WINTEST_VSYNC", "0", 1);
        return true;
    }();
    (void)s_env;
    grGlideShutdown();
    grGlideInit();
    grSstSelect(0);
    return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, format, origin, 2, 1);
}

GrMipMapId_t load_texture(const std::string& path) {
    Gu3dfInfo info{};
    if (!gu3dfGetInfo(path.c_str(), &info))
        return GR_NULL_MIPMAP_HANDLE;
    std::vector<uint8_t> data(info.mem_required);
    info.data = data.data();
    if (!gu3dfLoad(path.c_str(), &info))
        return GR_NULL_MIPMAP_HANDLE;
    GrMipMapId_t id = guTexAllocateMemory(
        GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, int(info.header.width), int(info.header.height),
        info.header.format, GR_MIPMAP_NEAREST, info.header.small_lod, info.header.large_lod,
        info.header.aspect_ratio, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP,
        GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
    if (id != GR_NULL_MIPMAP_HANDLE)
        guTexDownloadMipMap(id, info.data, &info.table.nccTable);
    return id;
}

GrVertex corner(float x, float y, float s, float t) {
    GrVertex v{};
    v.x = x;
    v.y = y;
    v.a = 255.0f;
    v.oow = 1.0f;
    v.tmuvtx[0].sow = s;
    v.tmuvtx[0].tow = t;
    return v;
}

// The textured quad of a frame of the Glide and gamma tests, from x = 0 to `width`, drawn by
// the program's own routine.
void textured_quad(GrMipMapId_t id, float width) {
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    grBufferClear(0xFFFFFFFFu, 0, GR_WDEPTHVALUE_FARTHEST);
    GrVertex v1 = corner(0, 0, 0, 255), v2 = corner(width, 0, 255, 255),
             v3 = corner(width, 480, 255, 0), v4 = corner(0, 480, 0, 0);
    DrawTextureQuad(id, &v1, &v2, &v3, &v4);
}

void BM_GlideTestFrame(benchmark::State& state) {
    if (!open_board(GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT))
        return state.SkipWithError("board busy");
    GrMipMapId_t id = load_texture(k_sample);
    SetTextureTestState();
    for (auto _ : state) {
        textured_quad(id, 640.0f);
        grBufferSwap(1);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 640 * 480);
    grGlideShutdown();
}

// The gamma test's frame: the textured left half, then the program's own band pattern of
// 153,600 points.
void BM_GammaTestFrame(benchmark::State& state) {
    if (!open_board(GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT))
        return state.SkipWithError("board busy");
    GrMipMapId_t id = load_texture(k_sample);
    SetTextureTestState();
    for (auto _ : state) {
        textured_quad(id, 320.0f);
        DrawGammaBands();
        grBufferSwap(1);
    }
    grGlideShutdown();
}

// The band pattern alone: one point per pixel of the right half.
void BM_GammaBandPoints(benchmark::State& state) {
    if (!open_board(GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT))
        return state.SkipWithError("board busy");
    SetTextureTestState();
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    for (auto _ : state) {
        DrawGammaBands();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 320 * 480);
    grGlideShutdown();
}

void BM_TvTestFrame(benchmark::State& state) {
    if (!open_board(GR_COLORFORMAT_ARGB, GR_ORIGIN_UPPER_LEFT))
        return state.SkipWithError("board busy");
    std::vector<uint32_t> image(256 * 256);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint32_t(i & 255) * 0x010101u;
    GrVertex lines[16]{};
    float w = 640, h = 480;
    for (int r = 0; r < 4; ++r) {
        float d = float((int[]){25, 45, 24, 44}[r]);
        float xy[4][2] = {{d, d}, {w - d, d}, {w - d, h - d}, {d, h - d}};
        for (int k = 0; k < 4; ++k) {
            GrVertex& v = lines[r * 4 + k];
            v.x = xy[k][0];
            v.y = xy[k][1];
            bool red = ((k + r) % 2) == 0;
            v.r = red ? 255.0f : 10.0f;
            v.g = red ? 10.0f : 255.0f;
            v.b = 10.0f;
        }
    }
    for (auto _ : state) {
        grDitherMode(GR_DITHER_DISABLE);
        grBufferClear(0, 0, 0);
        grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 64, 48, GR_LFB_SRC_FMT_888, 256, 256, 1024,
                         image.data());
        grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                       GR_COMBINE_OTHER_CONSTANT, FXFALSE);
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                grDrawLine(&lines[r * 4 + k], &lines[r * 4 + (k + 1) % 4]);
        grBufferSwap(1);
    }
    grGlideShutdown();
}

void BM_GammaScanOut(benchmark::State& state) {
    if (!open_board(GR_COLORFORMAT_ARGB, GR_ORIGIN_UPPER_LEFT))
        return state.SkipWithError("board busy");
    grGammaCorrectionKVX(1.7f, 2.2f, 1.3f);
    for (auto _ : state) {
        platform::Image img = board::screen_image();
        benchmark::DoNotOptimize(img.pixels.data());
    }
    grGammaCorrectionKVX(1.0f, 1.0f, 1.0f);
    grGlideShutdown();
}

void BM_MemsetFrame(benchmark::State& state) {
    std::vector<uint32_t> frame(640 * 480);
    uint8_t v = 0;
    for (auto _ : state) {
        std::memset(frame.data(), v++, frame.size() * 4);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_MemsetFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GlideTestFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GammaTestFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GammaBandPoints)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TvTestFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GammaScanOut)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
