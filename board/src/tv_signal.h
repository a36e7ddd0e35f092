// The board's TV encoder and a TV set of its time, one scan line at a time: the line of the
// board's picture in luminance and colour difference (Y, U, V), through the encoder's filters
// onto S-video (Y and C apart) or composite (C on the colour subcarrier, added to Y), and back
// out of the set's decoder as RGB. See docs/tv.md for the formulas.
#pragma once

#include <cstdint>
#include <vector>

// The line loops also build for the vector unit of newer x86-64 processors, chosen when the
// program starts (the loader's indirect functions: Linux only, GCC only, as clang 14 does not
// take them on members defined out of line; elsewhere the plain build). Not under the
// sanitizers: the loader runs the choosing code before they are set up (under the thread
// sanitizer every program crashed before main).
#if defined(__linux__) && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) &&       \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define WT_TV_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define WT_TV_VECTOR_CLONES
#endif

namespace board::tv {

// One broadcast standard as the view models it.
struct Standard {
    const char* name;
    int frame_lines;        // scan lines of a frame, both fields
    int width;              // the set's face in square pixels (4:3) ...
    int height;             // ... and in scan lines (the visible lines)
    double field_rate;      // fields a second
    int samples_per_line;   // the encoder's square-pixel clock, samples of a whole line
    double cycles_per_line; // colour subcarrier cycles of a whole line
    int colour_fields;      // fields until the subcarrier's phase repeats
    bool v_switch;          // the V carrier turns over on every other line (PAL)
};

inline constexpr Standard k_ntsc{"NTSC", 525, 640, 480, 60000.0 / 1001.0, 780, 227.5, 4, false};
inline constexpr Standard k_pal{"PAL", 625, 768, 576, 50.0, 944, 283.75 + 1.0 / 625.0, 8, true};

// What the encoder and the set do to every line, fixed by the TV record.
struct LineSettings {
    bool composite{true};
    int luma_side{0};   // sharpness: side tap of the [side, 256 - 2 side, side] luma filter
    int black_level{0}; // brightness: added to Y, in 1/256 levels
    int hue_cos{256};   // tuning: the set's chroma turned by an angle, cos and sin in 1/256
    int hue_sin{0};
    int notch[3]{0, 0, 0}; // the set's luma trap at the subcarrier: taps a, b, c of [a b c b a]
};

// Scratch lines of one width (the face plus a margin on each side), made once per picture.
class LineCodec {
public:
    static constexpr int k_margin = 12; // wider than all filters together reach

    LineCodec(const Standard& standard, const LineSettings& settings);

    // The line's planes, in 1/256 levels, indexed from -k_margin to width + k_margin.
    int32_t* y() { return m_y.data() + k_margin; }
    int32_t* u() { return m_u.data() + k_margin; }
    int32_t* v() { return m_v.data() + k_margin; }

    // Encodes and decodes the planes as scan line `time_line` (counted in half lines from the
    // start of the subcarrier's sequence, so that the two fields interleave in time) and
    // writes the set's picture of the face's width, 0x00RRGGBB, to `out`.
    void decode(int64_t time_half_lines, uint32_t* out);

private:
    WT_TV_VECTOR_CLONES void filter_luma();
    WT_TV_VECTOR_CLONES void band_limit_chroma();
    WT_TV_VECTOR_CLONES void composite(int64_t time_half_lines);
    WT_TV_VECTOR_CLONES void to_rgb(uint32_t* out) const;

    const Standard& m_standard;
    LineSettings m_settings;
    int m_width;
    std::vector<int32_t> m_y, m_u, m_v, m_tmp, m_sin, m_cos;
};

// The taps of the set's luma trap for a standard: a five-tap low-pass with a double zero at
// the subcarrier and a gain of one for flat fields.
void notch_taps(const Standard& standard, int taps[3]);

} // namespace board::tv
