// The program's three frames drawn through OpenGL's fixed-function pipeline, as the board
// draws them: the same vertices, texture, colours and origin.
#pragma once

#include <cstdint>
#include <vector>

namespace gl_peer {

// The texture of the Glide and gamma tests as the board decoded it (0xAARRGGBB).
struct Texels {
    int width{0}, height{0};
    std::vector<uint32_t> argb;
};

class Scenes {
public:
    explicit Scenes(const Texels& texels);
    void glide_frame() const;
    void gamma_frame() const;
    // `image` is the 256 x 256 picture of the TV frame (0x00RRGGBB), `outline` its sixteen
    // corners as x, y, r, g, b.
    void tv_frame(const std::vector<uint32_t>& image, const std::vector<float>& outline) const;

private:
    void textured_quad(float width) const;
    unsigned m_texture{0};
    std::vector<float> m_points;          // x, y of the gamma bands' points
    std::vector<uint8_t> m_point_colours; // r, g, b
};

} // namespace gl_peer
