// The board's 3DF loader over any bytes, as the program uses it: the file's facts
// (gu3dfGetInfo), its levels (gu3dfLoad into an area of the size it asked for), the download
// into texture memory and a small textured triangle drawn with it. The board is opened once;
// texture memory is emptied after each input.
#include "fuzz_prefix.h"
#include "board.h"
#include "glide.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string g_path; // the input, as the host file of the program's path below
const char k_program_path[] = "C:\\Textures\\Input.3df";

// A triangle of about 12 x 12 pixels textured corner to corner, so each level size samples.
void draw_with(GrMipMapId_t id, const Gu3dfInfo& info) {
    guTexSource(id);
    float s = float(info.header.width), t = float(info.header.height);
    GrVertex v[3]{};
    const float corners[3][4] = {{10, 10, 0, 0}, {22, 10, s, 0}, {16, 22, s, t}};
    for (int i = 0; i < 3; ++i) {
        v[i].x = corners[i][0];
        v[i].y = corners[i][1];
        v[i].oow = 1.0f;
        v[i].a = 255.0f;
        v[i].tmuvtx[0].sow = corners[i][2];
        v[i].tmuvtx[0].tow = corners[i][3];
        v[i].tmuvtx[0].oow = 1.0f;
    }
    grDrawTriangle(&v[0], &v[1], &v[2]);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string dir = make_fuzz_prefix();
    setenv("WINTEST_VSYNC", "0", 1);
    std::string folder = dir + "/drive_c/Textures";
    if (std::system(("mkdir -p '" + folder + "'").c_str()) != 0)
        std::abort();
    g_path = folder + "/Input.3df";
    grGlideInit();
    grSstSelect(0);
    if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR,
                      GR_ORIGIN_LOWER_LEFT, 2, 1))
        std::abort();
    grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_DECAL);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
                   GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(g_path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        std::abort();
    Gu3dfInfo info{};
    if (!gu3dfGetInfo(k_program_path, &info))
        return 0;
    std::vector<uint8_t> texels(info.mem_required);
    info.data = texels.data();
    if (!gu3dfLoad(k_program_path, &info) || info.mem_required != texels.size())
        std::abort(); // the same file read twice gives the same texture
    const Gu3dfHeader& h = info.header;
    GrMipMapId_t id = guTexAllocateMemory(
        GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, int(h.width), int(h.height), h.format, GR_MIPMAP_NEAREST,
        h.small_lod, h.large_lod, h.aspect_ratio, GR_TEXTURECLAMP_CLAMP, GR_TEXTURECLAMP_CLAMP,
        GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
    if (id == GR_NULL_MIPMAP_HANDLE)
        std::abort(); // one texture of a file that loaded always fits the empty memory
    if (!guTexDownloadMipMap(id, texels.data(), &info.table.nccTable))
        std::abort();
    draw_with(id, info);
    board::Board::the().textures().reset();
    return 0;
}
