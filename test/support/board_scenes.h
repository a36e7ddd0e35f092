// The frames of the program's three tests on the board, for the benchmarks, the GL peer and the
// tests that compare the board's back ends: the same calls the program makes, in its order.
#pragma once

#include "glide.h"

#include <cstdint>
#include <string>
#include <vector>

namespace board_scenes {

// Opens the board unthrottled (WINTEST_VSYNC=0), in a temporary prefix when the process has
// none, closing it first if it is open. False when the board is busy.
bool open_board(GrColorFormat_t format, GrOriginLocation_t origin);

// data/sample256.3df of the source tree, downloaded (wrap, bilinear); GR_NULL_MIPMAP_HANDLE
// when it cannot be read.
GrMipMapId_t load_sample_texture();

// A vertex of the textured quad: opaque, w = 1.
GrVertex corner(float x, float y, float s, float t);

// The Glide test's frame (ABGR, lower-left origin): white clear, the texture over the whole
// screen. The gamma test's frame: the texture over the left half, then its band pattern of
// 153,600 points. Both set the test's render state first; neither swaps.
void glide_frame(GrMipMapId_t texture);
void gamma_frame(GrMipMapId_t texture);

// The TV test's frame (ARGB, upper-left origin): black clear, a 256 x 256 image at (64, 48)
// and the sixteen outline lines; no swap.
struct TvScene {
    std::vector<uint32_t> image; // 0x00RRGGBB, 256 x 256
    GrVertex outline[16];        // four rectangles, corners clockwise from the top-left
};
TvScene tv_scene();
void tv_frame(const TvScene& scene);

} // namespace board_scenes
