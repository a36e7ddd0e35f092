// An offscreen OpenGL context on Mesa's software renderer: EGL without a window system
// (surfaceless), a 640 x 480 RGBA frame buffer object to draw into.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gl_peer {

class Context {
public:
    // Creates the context; ok() tells whether it worked, error() why not.
    Context(int width, int height);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    [[nodiscard]] bool ok() const { return m_error.empty(); }
    [[nodiscard]] const std::string& error() const { return m_error; }
    // The renderer's name (llvmpipe, softpipe, ...).
    [[nodiscard]] std::string renderer() const;
    // The frame as 0x00RRGGBB, row 0 at the top.
    [[nodiscard]] std::vector<uint32_t> read_frame() const;

private:
    int m_width, m_height;
    std::string m_error;
    void* m_display{nullptr};
    void* m_context{nullptr};
    unsigned m_fbo{0}, m_color{0};
};

} // namespace gl_peer
