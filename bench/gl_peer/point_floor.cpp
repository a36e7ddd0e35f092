#include "point_floor.h"

#include <cstring>

namespace gl_peer {

// As DrawGammaBands (wintest/gamma/gamma_run.cpp), with empty_point for grDrawPoint.
void empty_point_bands() {
    const int width = 640, height = 480, band_height = height / 8;
    GrVertex point;
    std::memset(&point, 0, sizeof point);
    point.a = 255.0f;
    point.oow = 1.0f;
    for (int row = 0; row < height; row++) {
        const int checkerboard = (row / band_height) & 1;
        for (int column = width / 2; column < width; column++) {
            float level = 128.0f;
            if (checkerboard)
                level = ((row + column) & 1) ? 255.0f : 0.0f;
            point.x = float(column);
            point.y = float(row);
            point.r = point.g = point.b = level;
            empty_point(&point);
        }
    }
}

} // namespace gl_peer
