#define GL_GLEXT_PROTOTYPES 1
#include "gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

namespace gl_peer {

namespace {

EGLDisplay surfaceless_display() {
    auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!get_platform_display)
        return EGL_NO_DISPLAY;
    return get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
}

} // namespace

Context::Context(int width, int height) : m_width(width), m_height(height) {
    EGLDisplay display = surfaceless_display();
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
        m_error = "no surfaceless EGL display";
        return;
    }
    m_display = display;
    const EGLint config_attributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    eglChooseConfig(display, config_attributes, &config, 1, &configs);
    if (!eglBindAPI(EGL_OPENGL_API)) {
        m_error = "no desktop OpenGL through EGL";
        return;
    }
    EGLContext context =
        eglCreateContext(display, configs ? config : EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT ||
        !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        m_error = "no OpenGL context";
        return;
    }
    m_context = context;
    glGenRenderbuffers(1, &m_color);
    glBindRenderbuffer(GL_RENDERBUFFER, m_color);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenFramebuffers(1, &m_fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_color);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        m_error = "the frame buffer object is incomplete";
    glViewport(0, 0, width, height);
}

Context::~Context() {
    if (m_context) {
        glDeleteFramebuffers(1, &m_fbo);
        glDeleteRenderbuffers(1, &m_color);
        eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(m_display, m_context);
    }
    if (m_display)
        eglTerminate(m_display);
}

std::string Context::renderer() const {
    const auto* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return name ? name : "?";
}

std::vector<uint32_t> Context::read_frame() const {
    std::vector<uint32_t> rgba(size_t(m_width) * size_t(m_height));
    glReadPixels(0, 0, m_width, m_height, GL_BGRA, GL_UNSIGNED_BYTE, rgba.data());
    std::vector<uint32_t> frame(rgba.size());
    for (int y = 0; y < m_height; ++y) // GL's row 0 is the bottom one
        for (int x = 0; x < m_width; ++x)
            frame[size_t(y) * size_t(m_width) + size_t(x)] =
                rgba[size_t(m_height - 1 - y) * size_t(m_width) + size_t(x)] & 0x00FFFFFFu;
    return frame;
}

} // namespace gl_peer
