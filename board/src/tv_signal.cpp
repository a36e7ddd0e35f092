#include "tv_signal.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace board::tv {

namespace {

constexpr double k_pi = 3.14159265358979323846;

// One cycle of the subcarrier in 256 steps, sine and cosine in 1/256.
struct CarrierTable {
    std::array<int32_t, 256> sin{}, cos{};
    CarrierTable() {
        for (int i = 0; i < 256; ++i) {
            sin[size_t(i)] = int32_t(std::lround(256.0 * std::sin(2.0 * k_pi * i / 256.0)));
            cos[size_t(i)] = int32_t(std::lround(256.0 * std::cos(2.0 * k_pi * i / 256.0)));
        }
    }
};

const CarrierTable& carrier() {
    static const CarrierTable s_table;
    return s_table;
}

// A symmetric filter along a line: taps[0] at the sample, taps[k] at k samples on each side,
// the sum taken down by `shift` bits (rounded). The first and last R samples are copied.
template <int R>
[[gnu::always_inline]] inline void symmetric_fir(const int32_t* __restrict in,
                                                 int32_t* __restrict out, int len,
                                                 const int (&taps)[R + 1], int shift) {
    const int32_t round = 1 << (shift - 1);
    for (int i = 0; i < R; ++i) {
        out[i] = in[i];
        out[len - 1 - i] = in[len - 1 - i];
    }
    for (int i = R; i < len - R; ++i) {
        int32_t acc = taps[0] * in[i];
        for (int k = 1; k <= R; ++k)
            acc += taps[k] * (in[i - k] + in[i + k]);
        out[i] = (acc + round) >> shift;
    }
}

// The chroma low-pass of the encoder and of the set's demodulator: binomial [1 6 15 20 15 6 1]
// / 64, half its power at about a ninth of the sample rate (1.3 MHz NTSC, 1.6 MHz PAL).
constexpr int k_chroma_taps[4] = {20, 15, 6, 1};

} // namespace

void notch_taps(const Standard& standard, int taps[3]) {
    // [a b c b a] with a gain of one at 0 and a double zero at w (value and slope both 0):
    // b = -4 a cos w, c = -2 b cos w - 2 a cos 2w, 2a + 2b + c = 1.
    double w = 2.0 * k_pi * standard.cycles_per_line / standard.samples_per_line;
    double b = -4.0 * std::cos(w), c = -2.0 * b * std::cos(w) - 2.0 * std::cos(2.0 * w);
    double a = 1.0 / (2.0 + 2.0 * b + c);
    taps[0] = int(std::lround(256.0 * a));
    taps[1] = int(std::lround(256.0 * a * b));
    taps[2] = 256 - 2 * taps[0] - 2 * taps[1];
}

LineCodec::LineCodec(const Standard& standard, const LineSettings& settings)
    : m_standard(standard), m_settings(settings), m_width(standard.width) {
    size_t len = size_t(m_width + 2 * k_margin);
    for (auto* plane : {&m_y, &m_u, &m_v, &m_tmp, &m_sin, &m_cos})
        plane->assign(len, 0);
}

// The encoder's sharpness: a three-tap low-pass (side above 0) or peaking (side below 0).
void LineCodec::filter_luma() {
    int side = m_settings.luma_side;
    if (side == 0)
        return;
    const int taps[2] = {256 - 2 * side, side};
    int len = int(m_y.size());
    symmetric_fir<1>(m_y.data(), m_tmp.data(), len, taps, 8);
    m_y.swap(m_tmp);
}

// The chroma's bandwidth: U and V through the binomial low-pass.
void LineCodec::band_limit_chroma() {
    int len = int(m_u.size());
    symmetric_fir<3>(m_u.data(), m_tmp.data(), len, k_chroma_taps, 6);
    m_u.swap(m_tmp);
    symmetric_fir<3>(m_v.data(), m_tmp.data(), len, k_chroma_taps, 6);
    m_v.swap(m_tmp);
}

// The composite round trip: U and V in quadrature on the subcarrier (V turned over on every
// other PAL line), added to Y; the set takes luma through its trap, chroma as what the trap
// held back, and demodulates chroma with the carrier it regenerated from the burst.
void LineCodec::composite(int64_t time_half_lines) {
    const CarrierTable& table = carrier();
    double cycles = std::fmod(double(time_half_lines) * m_standard.cycles_per_line / 2.0, 1.0);
    auto phase = uint32_t(uint64_t(std::llround(cycles * 4294967296.0)));
    auto step = uint32_t(
        std::llround(m_standard.cycles_per_line / m_standard.samples_per_line * 4294967296.0));
    int32_t v_sign = m_standard.v_switch && ((time_half_lines / 2) & 1) ? -1 : 1;
    int len = int(m_y.size());
    for (int i = 0; i < len; ++i, phase += step) {
        m_sin[size_t(i)] = table.sin[phase >> 24];
        m_cos[size_t(i)] = table.cos[phase >> 24] * v_sign;
    }
    const int32_t* __restrict sn = m_sin.data(), * __restrict cs = m_cos.data();
    int32_t *__restrict y = m_y.data(), *__restrict u = m_u.data(), *__restrict v = m_v.data(),
                        *__restrict s = m_tmp.data();
    for (int i = 0; i < len; ++i)
        s[i] = y[i] + ((u[i] * sn[i] + v[i] * cs[i]) >> 8); // the signal on the wire
    const int notch[3] = {m_settings.notch[2], m_settings.notch[1], m_settings.notch[0]};
    symmetric_fir<2>(s, y, len, notch, 8); // the set's luma: the signal through the trap
    for (int i = 0; i < len; ++i) {
        int32_t c = s[i] - y[i]; // the set's chroma: what the trap held back
        u[i] = (c * sn[i]) >> 7; // 2 C sin, 2 C cos: U and V plus terms at twice the carrier
        v[i] = (c * cs[i]) >> 7;
    }
}

// The set's picture: black level, hue, then RGB, each channel held to 0..255.
void LineCodec::to_rgb(uint32_t* out) const {
    const int32_t* __restrict y = m_y.data() + k_margin, * __restrict u = m_u.data() + k_margin, * __restrict v = m_v.data() + k_margin;
    uint32_t* __restrict to = out;
    const int width = m_width;
    const int32_t black = m_settings.black_level, hc = m_settings.hue_cos, hs = m_settings.hue_sin;
    for (int x = 0; x < width; ++x) {
        int32_t yy = y[x] + black + 128; // + 128: each channel rounds to the nearest level
        int32_t uu = (u[x] * hc - v[x] * hs) >> 8, vv = (u[x] * hs + v[x] * hc) >> 8;
        int32_t r = (yy + ((292 * vv) >> 8)) >> 8, g = (yy - ((101 * uu + 149 * vv) >> 8)) >> 8,
                b = (yy + ((520 * uu) >> 8)) >> 8;
        r = std::min(std::max(r, 0), 255);
        g = std::min(std::max(g, 0), 255);
        b = std::min(std::max(b, 0), 255);
        to[x] = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
    }
}

void LineCodec::decode(int64_t time_half_lines, uint32_t* out) {
    filter_luma();
    band_limit_chroma();
    if (m_settings.composite)
        composite(time_half_lines);
    band_limit_chroma(); // the set's chroma low-pass after its demodulator
    to_rgb(out);
}

} // namespace board::tv
