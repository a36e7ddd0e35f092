#include "pictures.h"

#include <cmath>

namespace datagen {

namespace {

constexpr uint32_t grey(uint32_t v) {
    return 0xFF000000u | v << 16 | v << 8 | v;
}

void fill(texlib::Picture& p, int x0, int y0, int x1, int y1, uint32_t c) { // x1, y1 excluded
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            p.at(x, y) = c;
}

// A ring of the given radius and width around (cx, cy), measured at pixel centres.
void ring(texlib::Picture& p, double cx, double cy, double radius, double width, uint32_t c) {
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if (std::fabs(d - radius) <= width / 2)
                p.at(x, y) = c;
        }
}

} // namespace

texlib::Picture sample_picture() {
    texlib::Picture p(256, 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            p.at(x, y) =
                0xFF000000u | uint32_t(x) << 16 | uint32_t(y) << 8 | uint32_t(255 - (x + y) / 2);
    for (int k = 0; k < 256; k += 32) {
        fill(p, k, 0, k + 1, 256, grey(40));
        fill(p, 0, k, 256, k + 1, grey(40));
    }
    fill(p, 32, 24, 56, 120, grey(255)); // the F
    fill(p, 32, 24, 110, 48, grey(255));
    fill(p, 32, 64, 90, 84, grey(255));
    fill(p, 224, 0, 256, 32, 0xFFFF0000u);    // top right: red
    fill(p, 0, 224, 32, 256, 0xFF0000FFu);    // bottom left: blue
    fill(p, 224, 224, 256, 256, 0xFF00FF00u); // bottom right: green
    ring(p, 160, 160, 48, 6, 0xFFFFFF00u);
    return p;
}

texlib::Picture sample_alpha_picture() {
    texlib::Picture p(128, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x) {
            uint32_t a = uint32_t(x * 2 + 1), c = ((x / 16 + y / 16) & 1) ? 0xFF8000u : 0x0080FFu;
            p.at(x, y) = a << 24 | c;
        }
    fill(p, 8, 8, 16, 40, 0xFFFFFFFFu);
    fill(p, 8, 8, 32, 16, 0xFFFFFFFFu);
    return p;
}

texlib::Picture sample_palette_picture() {
    static constexpr uint32_t k_colours[] = {0xFFE04040u, 0xFF40E040u, 0xFF4040E0u,
                                             0xFFE0E040u, 0xFF40E0E0u, 0xFFE040E0u};
    texlib::Picture p(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            p.at(x, y) = k_colours[(x / 8 + 2 * (y / 8)) % 6];
    fill(p, 4, 4, 10, 40, grey(255));
    fill(p, 4, 4, 28, 10, grey(255));
    fill(p, 4, 18, 22, 24, grey(255));
    return p;
}

texlib::Picture tv_card() {
    texlib::Picture p(256, 256, grey(24));
    for (int k = 0; k < 256; k += 32) { // grid
        fill(p, k, 0, k + 1, 256, grey(200));
        fill(p, 0, k, 256, k + 1, grey(200));
    }
    fill(p, 0, 255, 256, 256, grey(200)); // closing lines of the grid
    fill(p, 255, 0, 256, 256, grey(200));
    ring(p, 128, 128, 100, 2.5, grey(255));
    fill(p, 112, 127, 145, 129, grey(255)); // centre cross
    fill(p, 127, 112, 129, 145, grey(255));
    for (int i = 0; i < 8; ++i) // grey steps from black to white
        fill(p, 32 * i + 1, 200, 32 * i + 32, 224, grey(uint32_t(i * 255 / 7)));
    for (int x = 33; x < 96; ++x) // sharpness: one-pixel and two-pixel columns
        for (int y = 33; y < 64; ++y)
            p.at(x, y) = grey((x & 1) ? 255 : 0);
    for (int x = 161; x < 224; ++x)
        for (int y = 33; y < 64; ++y)
            p.at(x, y) = grey((x & 2) ? 255 : 0);
    for (int y = 65; y < 96; ++y) // flicker: one-pixel rows
        for (int x = 33; x < 96; ++x)
            p.at(x, y) = grey((y & 1) ? 255 : 0);
    for (int y = 65; y < 96; ++y) // beside them: the flat level they average to
        fill(p, 161, y, 224, y + 1, grey(128));
    return p;
}

texlib::Picture gamma_chart() {
    texlib::Picture p(256, 256, grey(0));
    static constexpr uint32_t k_masks[4] = {0xFFFFFFu, 0xFF0000u, 0x00FF00u, 0x0000FFu};
    for (int column = 0; column < 4; ++column) {
        const uint32_t mask = k_masks[column];
        auto level = [mask](uint32_t v) { return 0xFF000000u | ((v * 0x010101u) & mask); };
        const int x0 = column * 64;
        for (int band = 0; band < 8; ++band) { // lines beside the level that matches them
            double gamma = 1.0 + 0.3 * band;
            auto flat = uint32_t(std::lround(255.0 * std::pow(0.5, 1.0 / gamma)));
            for (int y = band * 20; y < band * 20 + 20; ++y) {
                fill(p, x0, y, x0 + 32, y + 1, level((y & 1) ? 255 : 0));
                fill(p, x0 + 32, y, x0 + 64, y + 1, level(flat));
            }
        }
        for (int y = 160; y < 192; ++y) { // checkerboard beside flat half level
            for (int x = x0; x < x0 + 32; ++x)
                p.at(x, y) = level(((x + y) & 1) ? 255 : 0);
            fill(p, x0 + 32, y, x0 + 64, y + 1, level(128));
        }
    }
    for (int i = 0; i < 16; ++i) {
        fill(p, i * 16, 192, i * 16 + 16, 224, grey(uint32_t(i * 17))); // grey steps
        fill(p, i * 16, 224, i * 16 + 16, 256, grey(uint32_t(i * 2)));  // near black
    }
    return p;
}

} // namespace datagen
