#include "board.h"

#include "board_harness.h"
#include "platform/prefix.h"
#ifdef _WIN32
#include "screen_follow.h"
#else
#include "bus/seams.h"
#endif

#include <cstdlib>
#include <string>
#include <thread>

namespace board {

namespace {

using namespace std::chrono;
constexpr auto k_retrace = duration_cast<steady_clock::duration>(duration<double>(1.0 / 60.0));

// At the exit of a process that opened the board: the pictures the environment asks for.
void save_at_exit() {
    save_pngs_from_env();
}

// A refusal switch of grSstControl: "always", or "open" while the board is open.
bool refuses(const char* variable, bool open) {
    std::string v = platform::env_string(variable);
    return v == "always" || (v == "open" && open);
}

} // namespace

constinit PointPath Board::s_points;
constinit std::atomic<Board*> Board::s_board{nullptr};

Board::Board() : m_epoch(steady_clock::now()) {
    m_frame.reset();
}

Board& Board::create() {
    static Board* const s_created = [] {
        auto* board = new Board; // never destroyed: exit handlers still read it
        s_board.store(board, std::memory_order_release);
        return board;
    }();
    return *s_created;
}

bool Board::open(GrScreenResolution_t resolution, GrScreenRefresh_t refresh, GrColorFormat_t format,
                 GrOriginLocation_t origin, int buffers, int aux_buffers) {
    if (is_open() || m_selected != 0)
        return false;
    if (resolution != GR_RESOLUTION_640x480 || refresh != GR_REFRESH_60Hz ||
        format < GR_COLORFORMAT_ARGB || format > GR_COLORFORMAT_BGRA ||
        (origin != GR_ORIGIN_UPPER_LEFT && origin != GR_ORIGIN_LOWER_LEFT) || buffers != 2 ||
        aux_buffers < 0 || aux_buffers > 1)
        return false;
    if (!m_lock.acquire(platform::prefix_path("board.lock")))
        return false;
    m_deferred.set_threads(board_threads_from_env());
    {
        std::lock_guard guard(m_mutex);
        m_frame.reset();
    }
    state() = RenderState{};
    m_textures.reset();
    m_format = format;
    m_lower_left = origin == GR_ORIGIN_LOWER_LEFT;
    m_vsync = platform::env_flag("WINTEST_VSYNC", true);
    m_frames = 0;
    m_epoch = steady_clock::now();
    if (!m_was_opened.exchange(true))
        std::atexit(save_at_exit);
    m_open = true;
    return true;
}

bool Board::control(FxU32 code) const {
    if (code == GR_CONTROL_RESIZE && refuses("WINTEST_REFUSE_RESIZE", is_open()))
        return false;
    if (code == GR_CONTROL_MOVE && refuses("WINTEST_REFUSE_MOVE", is_open()))
        return false;
    return true;
}

void Board::shutdown() {
    if (!is_open())
        return;
    m_deferred.flush();
    m_deferred.stop();
    save_pngs_from_env();
    m_textures.reset();
    m_lock.release();
    forget_point_path();
    m_open = false;
#ifdef _WIN32
    screen_follow_closed_board();
#else
    if (bus::BoardDisplay* display = bus::board_display())
        display->closed();
#endif
}

void Board::clear(GrColor_t color, GrAlpha_t alpha, FxU16 depth) {
    if (!is_open())
        return;
    uint32_t argb = (to_argb(color, m_format) & 0x00FFFFFFu) | uint32_t(alpha) << 24;
    const Target t = target();
    if (defers(t)) {
        forget_point_path();
        m_deferred.clear(t, argb);
    } else {
        m_deferred.flush();
        m_frame.fill(t.pixels, argb);
    }
    m_frame.fill_aux(depth);
}

void Board::wait_for_retrace(int interval) {
    if (!m_vsync || interval <= 0)
        return;
    auto now = steady_clock::now();
    auto ticks = (now - m_epoch) / k_retrace;
    std::this_thread::sleep_until(m_epoch + (ticks + std::min(interval, 60)) * k_retrace);
}

void Board::swap(int interval) {
    if (!is_open())
        return;
    m_deferred.flush();
    wait_for_retrace(interval);
    {
        std::lock_guard guard(m_mutex);
        m_frame.swap();
        ++m_frames;
    }
    forget_point_path();
    show_on_display();
}

// The monitor (and the TV set, when it is watched) shows the new front buffer at this retrace.
void Board::show_on_display() const {
#ifndef _WIN32
    bus::BoardDisplay* display = bus::board_display();
    if (display && display->wants_screen())
        display->show_screen(screen_image());
    if (display && display->wants_tv()) {
        // The set's fields of this frame, made when the window shows them.
        TvRecord tv = tv_record();
        display->show_tv([screen = screen_image(),
                          tv](int64_t field) { return render_tv_window(screen, tv, field); },
                         tv_standard(tv).field_rate);
    }
#endif
}

bool Board::write_region(GrBuffer_t buffer, FxU32 x, FxU32 y, GrLfbSrcFmt_t format, FxU32 width,
                         FxU32 height, FxI32 stride, const void* data) {
    if (!is_open())
        return false;
    m_deferred.flush();
    return lfb_write(m_frame.color(buffer), m_lower_left, x, y, format, width, height, stride,
                     data);
}

const Texture* Board::current_texture() const {
    return m_textures.find(m_state.tex_source[0]);
}

void Board::draw_point(const GrVertex& v) {
    if (!is_open())
        return;
    if (!m_points_direct) {
        m_point_target = target();
        m_points_direct = true;
        if (defers(m_point_target)) // the recorded frame is drawn while the points are
            m_deferred.start(m_lower_left);
        else
            m_deferred.flush();
        arm_point_path();
    }
    if (s_points.draw(v))
        return;
    if (m_deferred.in_flight()) {
        // A point on a row not drawn yet waits for it; any other point for the whole frame.
        if (v.y >= 0.0f && v.y < float(m_point_target.height))
            m_deferred.draw_rows(int(v.y) + 1);
        arm_point_path();
        if (s_points.draw(v))
            return;
        m_deferred.flush();
        arm_point_path();
    }
    board::draw_point(m_point_target, m_state, current_texture(), v);
}

void Board::arm_point_path() {
    s_points.arm(m_point_target, point_mode(m_state), m_deferred.drawn_rows(m_point_target.height));
}

void Board::draw_line(const GrVertex& a, const GrVertex& b) {
    if (!is_open())
        return;
    const Target t = target();
    if (defers(t)) {
        forget_point_path();
        m_deferred.line(t, m_state, current_texture(), a, b);
        return;
    }
    m_deferred.flush();
    board::draw_line(t, m_state, current_texture(), a, b);
}

void Board::draw_triangle(const GrVertex& a, const GrVertex& b, const GrVertex& c) {
    if (!is_open())
        return;
    const Target t = target();
    if (defers(t)) {
        forget_point_path();
        m_deferred.triangle(t, m_state, current_texture(), a, b, c);
        return;
    }
    m_deferred.flush();
    board::draw_triangle(t, m_state, current_texture(), a, b, c);
}

void Board::set_gamma(float red, float green, float blue) {
    std::lock_guard guard(m_mutex);
    m_gamma.set(red, green, blue);
}

void Board::set_tv(const TvRecord& record) {
    std::lock_guard guard(m_mutex);
    m_tv = record;
}

platform::Image Board::screen_image() const {
    platform::Image image(FrameBuffer::k_width, FrameBuffer::k_height);
    std::lock_guard guard(m_mutex);
    m_gamma.apply(m_frame.front(), image.pixels.data(), image.pixels.size());
    return image;
}

platform::Image Board::tv_image(int64_t field) const {
    return render_tv(screen_image(), tv_record(), field);
}

std::array<float, 3> Board::gamma() const {
    std::lock_guard guard(m_mutex);
    return m_gamma.values();
}

TvRecord Board::tv_record() const {
    std::lock_guard guard(m_mutex);
    return m_tv;
}

} // namespace board
