// The board's gamma: one 256-entry table per channel between the front buffer and the screen.
// A channel with gamma g maps in to 255 * (in / 255) ^ (1 / g), rounded to nearest; the board
// starts with g = 1.0 (the identity) on every channel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace board {

class GammaTables {
public:
    GammaTables();

    // Sets each channel whose value is above 0 (and finite); 0.0 or below keeps its curve.
    void set(float red, float green, float blue);

    [[nodiscard]] std::array<float, 3> values() const { return m_values; }
    [[nodiscard]] uint8_t map(int channel, uint8_t in) const { return m_tables[channel][in]; }

    // Pixels 0x??RRGGBB through the tables, as 0x00RRGGBB.
    void apply(const uint32_t* src, uint32_t* dst, size_t count) const;

private:
    void refresh_words();

    std::array<std::array<uint8_t, 256>, 3> m_tables{}; // red, green, blue
    // The same tables as words already in place: red << 16, green << 8, blue.
    std::array<std::array<uint32_t, 256>, 3> m_words{};
    bool m_identity{true}; // every curve maps each level to itself
    std::array<float, 3> m_values{1.0f, 1.0f, 1.0f};
};

} // namespace board
