#include "gamma.h"

#include <cmath>
namespace board {

namespace {

void fill_curve(std::array<uint8_t, 256>& table, double gamma) {
    for (int i = 0; i < 256; ++i)
        table[i] = uint8_t(std::lround(255.0 * std::pow(i / 255.0, 1.0 / gamma)));
}

} // namespace

GammaTables::GammaTables() {
    for (auto& table : m_tables)
        fill_curve(table, 1.0);
    refresh_words();
}

void GammaTables::refresh_words() {
    m_identity = true;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i) {
            m_words[c][i] = uint32_t(m_tables[c][i]) << (16 - 8 * c);
            m_identity = m_identity && m_tables[c][i] == i;
        }
}

void GammaTables::set(float red, float green, float blue) {
    const float values[3] = {red, green, blue};
    for (int c = 0; c < 3; ++c) {
        if (!(values[c] > 0.0f) || !std::isfinite(values[c]))
            continue; // 0.0 keeps the channel's curve
        m_values[c] = values[c];
        fill_curve(m_tables[c], values[c]);
    }
    refresh_words();
}

void GammaTables::apply(const uint32_t* src, uint32_t* dst, size_t count) const {
    if (m_identity) { // the board's start: the colour as it is (the loop vectorises)
        for (size_t i = 0; i < count; ++i)
            dst[i] = src[i] & 0x00FFFFFFu;
        return;
    }
    // Three loads and two ors a pixel. (Vector gathers of the same words measured slower.)
    const uint32_t* red = m_words[0].data();
    const uint32_t* green = m_words[1].data();
    const uint32_t* blue = m_words[2].data();
    for (size_t i = 0; i < count; ++i) {
        const uint32_t p = src[i];
        dst[i] = red[(p >> 16) & 0xFF] | green[(p >> 8) & 0xFF] | blue[p & 0xFF];
    }
}

} // namespace board
