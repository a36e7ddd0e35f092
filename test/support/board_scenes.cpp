#include "board_scenes.h"

#include "gamma/gamma.h"
#include "glide/glide_test.h"

#include <cstdlib>
#include <string>

namespace board_scenes {

bool open_board(GrColorFormat_t format, GrOriginLocation_t origin) {
    static char s_dir[] = "/tmp/wintest-scenes-XXXXXX";
    if (!std::getenv("WINTEST_PREFIX") && mkdtemp(s_dir))
        setenv("WINTEST_PREFIX", s_dir, 1);
    setenv("WINTEST_VSYNC", "0", 1);
    grGlideShutdown();
    grGlideInit();
    grSstSelect(0);
    return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, format, origin, 2, 1);
}

GrMipMapId_t load_sample_texture() {
    const std::string path = std::string(WINTEST_SOURCE_DIR) + "/data/sample256.3df";
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

namespace {

// The textured quad from x = 0 to `width` after a white clear, by the program's own routine.
void textured_quad(GrMipMapId_t texture, float width) {
    SetTextureTestState();
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    grBufferClear(0xFFFFFFFFu, 0, GR_WDEPTHVALUE_FARTHEST);
    GrVertex v1 = corner(0, 0, 0, 255), v2 = corner(width, 0, 255, 255),
             v3 = corner(width, 480, 255, 0), v4 = corner(0, 480, 0, 0);
    DrawTextureQuad(texture, &v1, &v2, &v3, &v4);
}

} // namespace

void glide_frame(GrMipMapId_t texture) {
    textured_quad(texture, 640.0f);
}

void gamma_frame(GrMipMapId_t texture) {
    textured_quad(texture, 320.0f);
    DrawGammaBands();
}

TvScene tv_scene() {
    TvScene scene;
    scene.image.resize(256 * 256);
    for (size_t i = 0; i < scene.image.size(); ++i)
        scene.image[i] = uint32_t((i * 7) & 255) * 0x010101u ^ uint32_t(i >> 8) << 16;
    const float w = 640, h = 480, insets[4] = {25, 45, 24, 44};
    for (int r = 0; r < 4; ++r) {
        const float d = insets[r];
        const float xy[4][2] = {{d, d}, {w - d, d}, {w - d, h - d}, {d, h - d}};
        for (int k = 0; k < 4; ++k) {
            GrVertex& v = scene.outline[r * 4 + k];
            v = GrVertex{};
            v.x = xy[k][0];
            v.y = xy[k][1];
            const bool red = ((k + r) % 2) == 0;
            v.r = red ? 255.0f : 10.0f;
            v.g = red ? 10.0f : 255.0f;
            v.b = 10.0f;
        }
    }
    return scene;
}

void tv_frame(const TvScene& scene) {
    grDitherMode(GR_DITHER_DISABLE);
    grBufferClear(0, 0, 0);
    grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 64, 48, GR_LFB_SRC_FMT_888, 256, 256, 1024,
                     scene.image.data());
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_CONSTANT, FXFALSE);
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k)
            grDrawLine(&scene.outline[r * 4 + k], &scene.outline[r * 4 + (k + 1) % 4]);
}

} // namespace board_scenes
