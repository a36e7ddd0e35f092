// logogen: draws the board maker's logo, the test window's default bitmap, as an 8-bit
// palette BMP (256 x 128, bottom-up rows, BITMAPINFOHEADER, 256-entry table).
//
//   logogen OUTPUT.bmp
//   logogen --version
//
// Everything is computed from integers, so every run writes the same bytes.
#include "platform/version.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int k_width = 256;
constexpr int k_height = 128;

// Palette: 0..127 a deep blue-to-teal ramp for the background, 128..191 a silver ramp for the
// letters, 192..255 an orange ramp for the swoosh.
struct Rgb {
    uint8_t r, g, b;
};

std::vector<Rgb> make_palette() {
    std::vector<Rgb> p(256);
    for (int i = 0; i < 128; ++i)
        p[i] = {uint8_t(8 + i / 4), uint8_t(16 + i * 3 / 4), uint8_t(64 + i)};
    for (int i = 0; i < 64; ++i)
        p[128 + i] = {uint8_t(150 + i * 105 / 63), uint8_t(155 + i * 100 / 63),
                      uint8_t(165 + i * 90 / 63)};
    for (int i = 0; i < 64; ++i)
        p[192 + i] = {uint8_t(200 + i * 55 / 63), uint8_t(80 + i * 2), uint8_t(10 + i / 2)};
    return p;
}

// A 5 x 7 font of the letters of the maker's name, one row a byte, high bit first of 5.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph k_font[] = {
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'I', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x1F}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
};

const Glyph* glyph(char c) {
    for (const Glyph& g : k_font)
        if (g.c == c)
            return &g;
    return nullptr;
}

// Pixels as palette indices, top row first.
using Canvas = std::vector<uint8_t>;

void background(Canvas& px) {
    for (int y = 0; y < k_height; ++y)
        for (int x = 0; x < k_width; ++x)
            px[y * k_width + x] = uint8_t((x / 4 + (k_height - y) / 2) * 127 / (64 + 64));
}

// A thick arc under the name: points between two ellipses, shaded along x.
void swoosh(Canvas& px) {
    for (int y = 0; y < k_height; ++y)
        for (int x = 0; x < k_width; ++x) {
            long dx = x - 128, dy = y - 150;
            long outer = dx * dx * 100 / (120 * 120) + dy * dy * 100 / (60 * 60);
            long inner = dx * dx * 100 / (110 * 110) + dy * dy * 100 / (50 * 50);
            if (outer <= 100 && inner > 100 && y < 118)
                px[y * k_width + x] = uint8_t(192 + x * 63 / (k_width - 1));
        }
}

// The name in 5 x 7 letters scaled by `scale`, with a dark drop shadow.
void name(Canvas& px, const char* text, int left, int top, int scale) {
    for (int pass = 0; pass < 2; ++pass) {
        int shadow = pass == 0 ? 3 : 0;
        int x0 = left;
        for (const char* c = text; *c; ++c, x0 += 6 * scale) {
            const Glyph* g = glyph(*c);
            if (!g)
                continue;
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col) {
                    if (!(g->rows[row] & (0x10 >> col)))
                        continue;
                    for (int sy = 0; sy < scale; ++sy)
                        for (int sx = 0; sx < scale; ++sx) {
                            int x = x0 + col * scale + sx + shadow;
                            int y = top + row * scale + sy + shadow;
                            if (x < 0 || x >= k_width || y < 0 || y >= k_height)
                                continue;
                            px[y * k_width + x] =
                                pass == 0 ? 0
                                          : uint8_t(191 - (row * scale + sy) * 63 / (7 * scale));
                        }
                }
        }
    }
}

void put16(std::FILE* f, unsigned v) {
    std::fputc(int(v & 0xFF), f);
    std::fputc(int((v >> 8) & 0xFF), f);
}
void put32(std::FILE* f, uint32_t v) {
    put16(f, v & 0xFFFF);
    put16(f, v >> 16);
}

bool write_bmp(const char* path, const Canvas& px, const std::vector<Rgb>& palette) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    const uint32_t table = 256 * 4, image = uint32_t(k_width) * k_height;
    const uint32_t offset = 14 + 40 + table;
    std::fputc('B', f);
    std::fputc('M', f);
    put32(f, offset + image);
    put32(f, 0);
    put32(f, offset);
    put32(f, 40);
    put32(f, k_width);
    put32(f, k_height);
    put16(f, 1);
    put16(f, 8);
    put32(f, 0);     // BI_RGB
    put32(f, image); // rows need no padding: 256 bytes each
    put32(f, 2835);  // 72 dpi
    put32(f, 2835);
    put32(f, 256);
    put32(f, 256);
    for (const Rgb& c : palette) {
        std::fputc(c.b, f);
        std::fputc(c.g, f);
        std::fputc(c.r, f);
        std::fputc(0, f);
    }
    for (int y = k_height - 1; y >= 0; --y)
        std::fwrite(&px[size_t(y) * k_width], 1, k_width, f);
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (platform::print_version_if_asked(argc, argv, "logogen"))
        return 0;
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: logogen OUTPUT.bmp\n       logogen --version\n");
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    Canvas px(size_t(k_width) * k_height, 0);
    background(px);
    swoosh(px);
    name(px, "KAVIX", 23, 22, 7);
    if (!write_bmp(argv[1], px, make_palette())) {
        std::fprintf(stderr, "logogen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
