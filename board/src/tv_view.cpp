#include "tv_view.h"

#include <algorithm>
#include <cmath>

namespace board {

namespace {

constexpr double k_pi = 3.14159265358979323846;

uint32_t channel(uint32_t p, int shift) {
    return (p >> shift) & 0xFF;
}

// Position and size: underscan shows the whole picture at 7/8 size inside a black border,
// overscan crops a tenth and fills the screen; the shifts move the picture (x right, y up).
platform::Image place(const platform::Image& screen, const TvRecord& tv) {
    platform::Image out(screen.width, screen.height, 0);
    double k = tv[k_tv_scan] == 0 ? 8.0 / 7.0 : 0.9; // screen pixels per TV pixel
    double cx = screen.width / 2.0, cy = screen.height / 2.0;
    for (int y = 0; y < out.height; ++y) {
        double sy = (y + 0.5 - cy + tv[k_tv_yshift]) * k + cy;
        if (sy < 0 || sy >= screen.height)
            continue;
        for (int x = 0; x < out.width; ++x) {
            double sx = (x + 0.5 - cx - tv[k_tv_xshift]) * k + cx;
            if (sx >= 0 && sx < screen.width)
                out.at(x, y) = screen.at(int(sx), int(sy));
        }
    }
    return out;
}

// A three-tap filter [side, centre, side] / (centre + 2 side) along rows or columns.
platform::Image filter(const platform::Image& in, int side, int centre, bool vertical) {
    platform::Image out(in.width, in.height);
    int total = centre + 2 * side;
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < in.width; ++x) {
            uint32_t a, b = in.at(x, y), c;
            if (vertical) {
                a = in.at(x, std::max(0, y - 1));
                c = in.at(x, std::min(in.height - 1, y + 1));
            } else {
                a = in.at(std::max(0, x - 1), y);
                c = in.at(std::min(in.width - 1, x + 1), y);
            }
            uint32_t p = 0;
            for (int s = 0; s < 24; s += 8) {
                int v = int(channel(a, s) + channel(c, s)) * side + int(channel(b, s)) * centre;
                p |= uint32_t((v + total / 2) / total) << s;
            }
            out.at(x, y) = p;
        }
    }
    return out;
}

// Brightness adds 3 levels per step from 65; tuning turns the hue 6 degrees per step from 8.
void adjust_colour(platform::Image& img, const TvRecord& tv) {
    double offset = (tv[k_tv_brightness] - 65) * 3.0;
    double angle = (tv[k_tv_tuning] - 8) * 6.0 * k_pi / 180.0;
    if (offset == 0.0 && angle == 0.0)
        return;
    double c = std::cos(angle), s = std::sin(angle);
    for (uint32_t& p : img.pixels) {
        double r = channel(p, 16), g = channel(p, 8), b = channel(p, 0);
        double y = 0.299 * r + 0.587 * g + 0.114 * b + offset;
        double i = 0.596 * r - 0.274 * g - 0.322 * b;
        double q = 0.211 * r - 0.523 * g + 0.312 * b;
        double i2 = i * c - q * s, q2 = i * s + q * c;
        double out[3] = {y + 0.956 * i2 + 0.621 * q2, y - 0.272 * i2 - 0.647 * q2,
                         y - 1.106 * i2 + 1.703 * q2};
        p = 0;
        for (int k = 0; k < 3; ++k)
            p |= uint32_t(std::clamp(std::lround(out[k]), 0L, 255L)) << (16 - 8 * k);
    }
}

} // namespace

platform::Image render_tv(const platform::Image& screen, const TvRecord& tv) {
    if (screen.empty())
        return screen;
    if (tv[k_tv_enable] == 0)
        return platform::Image(screen.width, screen.height, 0);
    platform::Image img = place(screen, tv);
    if (tv[k_tv_sharpness] <= 1)
        img = filter(img, 1, 2, false); // soft
    else if (tv[k_tv_sharpness] == 2)
        img = filter(img, 1, 6, false);
    if (tv[k_tv_flicker] >= 3)
        img = filter(img, 1, 2, true); // lines averaged with their neighbours
    else if (tv[k_tv_flicker] > 0)
        img = filter(img, 1, 6, true);
    adjust_colour(img, tv);
    return img;
}

} // namespace board
