#include "gl_scenes.h"

#include <GL/gl.h>

#include <cstddef>

namespace gl_peer {

namespace {

// Vertex coordinates are those of the board; y grows upward (lower-left origin) or downward.
void project(bool lower_left) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (lower_left)
        glOrtho(0, 640, 0, 480, -1, 1);
    else
        glOrtho(0, 640, 480, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

} // namespace

Scenes::Scenes(const Texels& texels) {
    glGenTextures(1, &m_texture);
    glBindTexture(GL_TEXTURE_2D, m_texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, texels.width, texels.height, 0, GL_BGRA,
                 GL_UNSIGNED_BYTE, texels.argb.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    // The gamma test's bands: eight of 60 rows from the bottom, even ones grey 128, odd ones
    // a one-pixel checkerboard; a point at each pixel centre of the right half.
    for (int row = 0; row < 480; ++row)
        for (int column = 320; column < 640; ++column) {
            uint8_t level = 128;
            if ((row / 60) & 1)
                level = ((row + column) & 1) ? 255 : 0;
            m_points.insert(m_points.end(), {float(column) + 0.5f, float(row) + 0.5f});
            m_point_colours.insert(m_point_colours.end(), {level, level, level});
        }
}

// The texture over x = 0 to `width` after a white clear, two triangles as the program draws.
void Scenes::textured_quad(float width) const {
    project(true);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, m_texture);
    const float k = 1.0f / 256.0f;
    const float quad[6][4] = {{0, 0, 0, 255},       {width, 0, 255, 255}, {width, 480, 255, 0},
                              {width, 480, 255, 0}, {0, 480, 0, 0},       {0, 0, 0, 255}};
    glBegin(GL_TRIANGLES);
    for (const auto& v : quad) {
        glTexCoord2f(v[2] * k, v[3] * k);
        glVertex2f(v[0], v[1]);
    }
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

void Scenes::glide_frame() const {
    textured_quad(640.0f);
}

void Scenes::gamma_frame() const {
    textured_quad(320.0f);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, m_points.data());
    glColorPointer(3, GL_UNSIGNED_BYTE, 0, m_point_colours.data());
    glDrawArrays(GL_POINTS, 0, GLsizei(m_points.size() / 2));
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

void Scenes::tv_frame(const std::vector<uint32_t>& image, const std::vector<float>& outline) const {
    project(false);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glRasterPos2i(64, 48);
    glPixelZoom(1.0f, -1.0f); // image rows go down the screen
    glDrawPixels(256, 256, GL_BGRA, GL_UNSIGNED_BYTE, image.data());
    glPixelZoom(1.0f, 1.0f);
    glShadeModel(GL_SMOOTH);
    glBegin(GL_LINES);
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k)
            for (int end : {k, (k + 1) % 4}) {
                const float* v = &outline[std::size_t(r * 4 + end) * 5];
                glColor3ub(GLubyte(v[2]), GLubyte(v[3]), GLubyte(v[4]));
                glVertex2f(v[0] + 0.5f, v[1] + 0.5f); // through the board's pixel centres
            }
    glEnd();
}

} // namespace gl_peer
