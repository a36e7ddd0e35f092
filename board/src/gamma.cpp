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
}

void GammaTables::set(float red, float green, float blue) {
    const float values[3] = {red, green, blue};
    for (int c = 0; c < 3; ++c) {
        if (!(values[c] > 0.0f) || !std::isfinite(values[c]))
            continue; // 0.0 keeps the channel's curve
        m_values[c] = values[c];
        fill_curve(m_tables[c], values[c]);
    }
}

void GammaTables::apply(const uint32_t* src, uint32_t* dst, size_t count) const {
    const uint8_t* r = m_tables[0].data();
    const uint8_t* g = m_tables[1].data();
    const uint8_t* b = m_tables[2].data();
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = src[i];
        dst[i] =
            uint32_t(r[(p >> 16) & 0xFF]) << 16 | uint32_t(g[(p >> 8) & 0xFF]) << 8 | b[p & 0xFF];
    }
}

} // namespace board
