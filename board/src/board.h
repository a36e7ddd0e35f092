// The software board: one object that owns the screen buffers, the render state, texture
// memory, the gamma tables, the TV record and the lock. The C entry points (board_api.cpp)
// forward to it; the harness (board_harness.h) reads what it shows.
#pragma once

#include "board_lock.h"
#include "deferred_frame.h"
#include "frame_buffer.h"
#include "gamma.h"
#include "glide.h"
#include "platform/image.h"
#include "rasterizer.h"
#include "render_state.h"
#include "texture_memory.h"
#include "tv_view.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace board {

class Board {
public:
    // The one board of the process (never destroyed, so exit handlers can still read it).
    static Board& the() {
        if (Board* board = s_board.load(std::memory_order_acquire)) [[likely]]
            return *board;
        return create();
    }

    // Draws a point of the common cases (see PointPath) and returns true, or returns false
    // for the board to take it. Needs no board: the path is shut until one arms it.
    [[nodiscard, gnu::always_inline]] static bool draw_point_quick(const GrVertex& v) {
        return s_points.draw(v);
    }

    // ---- lifecycle ----
    void init() { m_initialized = true; }
    void select(int which) { m_selected = which; }
    [[nodiscard]] bool open(GrScreenResolution_t resolution, GrScreenRefresh_t refresh,
                            GrColorFormat_t format, GrOriginLocation_t origin, int buffers,
                            int aux_buffers);
    [[nodiscard]] bool control(FxU32 code) const;
    void shutdown();
    [[nodiscard]] bool is_open() const { return m_open.load(); }

    // ---- frame buffer ----
    void clear(GrColor_t color, GrAlpha_t alpha, FxU16 depth);
    void swap(int interval);
    // Hands the shown pictures to the display (real windows), when it wants them.
    void show_on_display() const;
    bool write_region(GrBuffer_t buffer, FxU32 x, FxU32 y, GrLfbSrcFmt_t format, FxU32 width,
                      FxU32 height, FxI32 stride, const void* data);

    // ---- drawing ----
    // The render state, for changing it.
    [[nodiscard]] RenderState& state() {
        forget_point_path();
        return m_state;
    }
    // Points are drawn at once, after what is recorded before them (which the workers draw
    // meanwhile, see DeferredFrame::start); grDrawPoint tries draw_point_quick first.
    void draw_point(const GrVertex& v);
    void draw_line(const GrVertex& a, const GrVertex& b);
    void draw_triangle(const GrVertex& a, const GrVertex& b, const GrVertex& c);

    // ---- textures ----
    // Texture memory, for changing it (what is recorded is drawn first: it points into it).
    [[nodiscard]] TextureMemory& textures() {
        m_deferred.flush();
        return m_textures;
    }
    // The threads that draw (WINTEST_BOARD_THREADS, read at each grSstWinOpen).
    [[nodiscard]] int threads() const { return m_deferred.threads(); }

    // ---- extensions ----
    void set_gamma(float red, float green, float blue);
    void set_tv(const TvRecord& record);

    // ---- what an observer sees (safe from another thread) ----
    [[nodiscard]] platform::Image screen_image() const;
    [[nodiscard]] platform::Image tv_image(int64_t field = k_tv_both_fields) const;
    [[nodiscard]] uint64_t frame_count() const { return m_frames.load(); }
    [[nodiscard]] std::array<float, 3> gamma() const;
    [[nodiscard]] TvRecord tv_record() const;

private:
    Board();
    static Board& create();
    // Forgets what the last point decided (the state or the buffers change, or something is
    // recorded): the next point decides again and arms the point path.
    void forget_point_path() {
        m_points_direct = false;
        s_points.shut();
    }
    // Arms the point path for m_point_target and the state, on the rows drawn so far.
    void arm_point_path();
    [[nodiscard]] Target target() {
        uint32_t* pixels = m_frame.color(m_state.render_buffer);
        return {pixels ? pixels : m_frame.back(), FrameBuffer::k_width, FrameBuffer::k_height,
                m_lower_left};
    }
    // True when drawing into `t` is recorded rather than done at once: the back buffer, with
    // more than one thread.
    [[nodiscard]] bool defers(const Target& t) {
        return m_deferred.deferring() && t.pixels == m_frame.back();
    }
    [[nodiscard]] const Texture* current_texture() const;
    void wait_for_retrace(int interval);

    mutable std::mutex m_mutex; // guards the front buffer choice, the gamma and the TV record
    FrameBuffer m_frame;
    RenderState m_state;
    DeferredFrame m_deferred; // what is recorded for the back buffer, and its threads
    // While m_points_direct (the board is open, nothing has been recorded since the first
    // point, the state and the buffers are as they were), the buffer points draw into;
    // s_points is armed then with it, the point mode of m_state and the rows drawn.
    Target m_point_target;
    bool m_points_direct{false};
    static constinit PointPath s_points;
    static constinit std::atomic<Board*> s_board; // set by create()
    TextureMemory m_textures;
    GammaTables m_gamma;
    TvRecord m_tv{k_tv_defaults};
    BoardLock m_lock;
    GrColorFormat_t m_format{GR_COLORFORMAT_ARGB};
    bool m_lower_left{false};
    bool m_initialized{false};
    bool m_vsync{true};
    int m_selected{0};
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_was_opened{false};
    std::atomic<uint64_t> m_frames{0};
    std::chrono::steady_clock::time_point m_epoch; // retrace k happens at m_epoch + k / 60 s
};

} // namespace board
