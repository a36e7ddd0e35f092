// The TV test image reader over any bytes: the four header lines, the size from the lod range
// and aspect ratio, and the intensity texels of the largest level. A picture is at most
// 4096 x 4096; the reader must never read or write past its areas and must say nothing.
#include "fuzz_prefix.h"
#include "tv/tv.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string g_path;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string dir = make_fuzz_prefix();
    g_path = dir + "/testtv.3df";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(g_path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        std::abort();
    int width = -1, height = -1;
    DWORD* pixels = ReadTvTestImage(g_path.c_str(), &width, &height);
    if (pixels == nullptr) {
        if (width != -1 || height != -1)
            std::abort(); // a failed read leaves the size alone
        return 0;
    }
    if (width < 1 || height < 1 || width > TV_IMAGE_MAX_SIDE || height > TV_IMAGE_MAX_SIDE)
        std::abort();
    // Each pixel is a grey of bytes v, v, v, 0, v the texel the file holds for it or 0. The
    // first and the last 4096 pixels are checked (a large picture takes time to walk).
    size_t count = size_t(width) * size_t(height), header = 0;
    for (int line_feeds = 0; header < size && line_feeds < 4; ++header)
        line_feeds += data[header] == '\n';
    for (size_t i = 0; i < count; i = (i == 4095 && count > 8192) ? count - 4096 : i + 1) {
        DWORD v = header + i < size ? data[header + i] : 0;
        if (pixels[i] != (v | v << 8 | v << 16))
            std::abort();
    }
    std::free(pixels);
    return 0;
}
