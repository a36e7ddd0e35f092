#include "tv_view.h"

#include <algorithm>
#include <cmath>

namespace board {

namespace {

constexpr double k_pi = 3.14159265358979323846;

// Shifts and steps beyond these move the picture off the face or the levels past their
// ends all the same; holding them keeps the arithmetic inside its range for any record.
constexpr int32_t k_shift_limit = 4096;
constexpr int32_t k_step_limit = 1000;

// A position on the screen and the weight (of 256) of the next pixel or row.
struct Tap {
    int index;
    int32_t frac;
};

// Where the face's column or line `i` falls on the screen: the picture centred, scaled by
// `k` screen pixels per face pixel and moved by `shift`. The pixel and the next one are
// blended; -1 and `size` are black, and wholly outside the picture is -1 alone.
Tap locate(int i, int face, int size, double k, int32_t shift) {
    double p = (i + 0.5 - face / 2.0 - shift) * k + size / 2.0 - 0.5;
    if (p < -1.0 || p >= size)
        return {-1, 0};
    double whole = std::floor(p);
    auto frac = int32_t(std::lround((p - whole) * 256.0));
    if (frac == 256)
        return {int(whole) + 1, 0};
    return {int(whole), frac};
}

// The picture's size on the face: underscan fits it at 7/8 of the face, overscan spreads its
// middle 9/10 over the face (a typical set hides about 5% at each edge).
double screen_per_face(const TvRecord& tv, int screen, int face) {
    return tv[k_tv_scan] == 0 ? 8.0 * screen / (7.0 * face) : 0.9 * screen / face;
}

// The flicker filter's side tap (of 256) between neighbouring lines of the frame.
int32_t flicker_side(int32_t setting) {
    if (setting <= 0)
        return 0;
    return setting == 1 ? 32 : setting == 2 ? 48 : 64; // [1 6 1]/8, [3 10 3]/16, [1 2 1]/4
}

// The encoder's luma filter for a sharpness setting (side tap of 256).
int luma_side(int32_t setting) {
    if (setting <= 1)
        return 64; // [1 2 1]/4: soft
    if (setting == 2)
        return 32;                 // [1 6 1]/8
    return setting == 3 ? 0 : -32; // crisp; 4 and above peak: [-1 10 -1]/8
}

tv::LineSettings line_settings(const TvRecord& tv, const tv::Standard& standard) {
    tv::LineSettings s;
    s.composite = tv[k_tv_output] == 0;
    s.luma_side = luma_side(tv[k_tv_sharpness]);
    int64_t brightness =
        std::clamp<int64_t>(int64_t(tv[k_tv_brightness]) - 65, -k_step_limit, k_step_limit);
    s.black_level = int(brightness * 3 * 256); // 3 levels a step
    int64_t tuning = std::clamp<int64_t>(int64_t(tv[k_tv_tuning]) - 8, -k_step_limit, k_step_limit);
    double angle = double(tuning) * 6.0 * k_pi / 180.0; // 6 degrees a step
    s.hue_cos = int(std::lround(256.0 * std::cos(angle)));
    s.hue_sin = int(std::lround(256.0 * std::sin(angle)));
    tv::notch_taps(standard, s.notch);
    return s;
}

// Everything one picture's lines share: the screen, where each column falls, the filters.
struct Frame {
    const platform::Image& screen;
    const TvRecord& tv;
    const tv::Standard& standard;
    double k;
    int32_t flicker;
    std::vector<Tap> columns;            // for face columns -margin .. width + margin
    std::vector<uint32_t> mix_rb, mix_g; // a blended line: R and B in 16-bit halves, G; 1/256
    std::vector<int32_t> line_y, line_u, line_v;
    tv::LineCodec codec;

    Frame(const platform::Image& picture, const TvRecord& record)
        : screen(picture), tv(record), standard(tv_standard(record)),
          k(screen_per_face(record, picture.width, standard.width)),
          flicker(flicker_side(record[k_tv_flicker])),
          codec(standard, line_settings(record, standard)) {
        int32_t xshift = std::clamp(record[k_tv_xshift], -k_shift_limit, k_shift_limit);
        for (int x = -tv::LineCodec::k_margin; x < standard.width + tv::LineCodec::k_margin; ++x)
            columns.push_back(locate(x, standard.width, picture.width, k, xshift));
        mix_rb.assign(size_t(picture.width), 0);
        mix_g.assign(size_t(picture.width), 0);
        for (auto* line : {&line_y, &line_u, &line_v})
            line->assign(size_t(picture.width) + 2, 0);
    }
};

// The rows (and weights of 256) that make up line `line` of the frame: the scaler's two
// nearest rows for the line and, with the flicker filter, for the lines above and below.
int line_rows(const Frame& f, int line, int rows[6], int32_t weights[6]) {
    int32_t yshift = std::clamp(f.tv[k_tv_yshift], -k_shift_limit, k_shift_limit);
    int32_t side = f.flicker, count = 0;
    const int32_t line_weights[3] = {side, 256 - 2 * side, side};
    for (int d = -1; d <= 1; ++d) {
        if (line_weights[d + 1] == 0)
            continue;
        Tap t = locate(line + d, f.standard.height, f.screen.height, f.k, -yshift);
        const int row_at[2] = {t.index, t.index + 1};
        const int32_t row_weight[2] = {256 - t.frac, t.frac};
        for (int j = 0; j < 2; ++j) {
            int32_t w = line_weights[d + 1] * row_weight[j];
            if (w == 0 || row_at[j] < 0 || row_at[j] >= f.screen.height)
                continue; // above or below the picture: black
            int* found = std::find(rows, rows + count, row_at[j]);
            if (found == rows + count) {
                rows[count] = row_at[j];
                weights[count++] = 0;
            }
            weights[found - rows] += w;
        }
    }
    int32_t total = 0, *largest = weights;
    for (int j = 0; j < count; ++j) {
        weights[j] = (weights[j] + 128) >> 8;
        total += weights[j];
        largest = weights[j] > *largest ? weights + j : largest;
    }
    if (total > 256)
        *largest -= total - 256; // the rounding's excess: a blend never brightens
    return count;
}

// The screen's rows blended into the line's Y, U and V (columns 1 .. width). R and B blend
// side by side in one word: a channel times weights that sum to 256 at most stays below
// 65536, so neither half reaches into the other.
WT_TV_VECTOR_CLONES void blend_rows(Frame& f, int line) {
    int rows[6];
    int32_t weights[6];
    int count = line_rows(f, line, rows, weights);
    int width = f.screen.width;
    uint32_t* __restrict rb = f.mix_rb.data(), * __restrict g = f.mix_g.data();
    std::fill(rb, rb + width, 0u);
    std::fill(g, g + width, 0u);
    for (int j = 0; j < count; ++j) {
        const uint32_t* __restrict src = &f.screen.pixels[size_t(rows[j]) * size_t(width)];
        auto w = uint32_t(weights[j]);
        for (int x = 0; x < width; ++x) {
            rb[x] += (src[x] & 0xFF00FFu) * w;
            g[x] += ((src[x] >> 8) & 0xFFu) * w;
        }
    }
    int32_t *__restrict y = f.line_y.data() + 1, *__restrict u = f.line_u.data() + 1,
                        *__restrict v = f.line_v.data() + 1;
    for (int x = 0; x < width; ++x) { // rows sum to 256 and 0: grey has exactly no U and V
        auto red = int32_t(rb[x] >> 16), green = int32_t(g[x]), blue = int32_t(rb[x] & 0xFFFFu);
        y[x] = (77 * red + 150 * green + 29 * blue) >> 8;
        u[x] = (-38 * red - 74 * green + 112 * blue) >> 8;
        v[x] = (157 * red - 132 * green - 25 * blue) >> 8;
    }
}

// Builds line `line` of the frame in the codec's planes: rows blended, then columns resampled.
WT_TV_VECTOR_CLONES void build_line(Frame& f, int line) {
    blend_rows(f, line);
    const int32_t* in[3] = {f.line_y.data() + 1, f.line_u.data() + 1, f.line_v.data() + 1};
    int32_t* dest[3] = {f.codec.y(), f.codec.u(), f.codec.v()};
    const int margin = tv::LineCodec::k_margin;
    const Tap* __restrict columns = f.columns.data();
    const int count = int(f.columns.size());
    for (int c = 0; c < 3; ++c) {
        const int32_t* __restrict src = in[c]; // columns -1 and width are black
        int32_t* __restrict to = dest[c] - margin;
        for (int i = 0; i < count; ++i) {
            Tap t = columns[i];
            to[i] = (src[t.index] * (256 - t.frac) + src[t.index + 1] * t.frac) >> 8;
        }
    }
}

// Renders the lines of field `field` (its parity) into `out`.
void render_field(Frame& f, int64_t field, platform::Image& out) {
    int64_t n = field % f.standard.colour_fields; // the subcarrier's phase repeats
    for (int line = int(n & 1); line < f.standard.height; line += 2) {
        build_line(f, line);
        int64_t time = n * f.standard.frame_lines + 2 * (line >> 1); // in half lines
        f.codec.decode(time, &out.pixels[size_t(line) * size_t(out.width)]);
    }
}

} // namespace

const tv::Standard& tv_standard(const TvRecord& tv) {
    return tv[k_tv_format] == 0 ? tv::k_ntsc : tv::k_pal;
}

namespace {

// The face with fields `first` and `second` drawn (a negative one is skipped): black
// elsewhere, and all black while the output is off.
platform::Image render_fields(const platform::Image& screen, const TvRecord& tv, int64_t first,
                              int64_t second) {
    if (screen.empty())
        return screen;
    const tv::Standard& standard = tv_standard(tv);
    platform::Image out(standard.width, standard.height, 0);
    if (tv[k_tv_enable] == 0)
        return out;
    Frame frame(screen, tv);
    for (int64_t field : {first, second})
        if (field >= 0)
            render_field(frame, field, out);
    return out;
}

} // namespace

platform::Image render_tv(const platform::Image& screen, const TvRecord& tv, int64_t field) {
    return field < 0 ? render_fields(screen, tv, 0, 1) : render_fields(screen, tv, field, -1);
}

platform::Image render_tv_window(const platform::Image& screen, const TvRecord& tv, int64_t field) {
    field = std::max<int64_t>(field, 0);
    int colour_fields = tv_standard(tv).colour_fields;
    int64_t before = (field % colour_fields + colour_fields - 1) % colour_fields;
    platform::Image picture = render_fields(screen, tv, field, before);
    for (int line = int(before & 1); line < picture.height; line += 2) {
        uint32_t* row = &picture.pixels[size_t(line) * size_t(picture.width)];
        for (int x = 0; x < picture.width; ++x)
            row[x] = (row[x] >> 1) & 0x7F7F7Fu; // half the light, channel by channel
    }
    return picture;
}

} // namespace board
