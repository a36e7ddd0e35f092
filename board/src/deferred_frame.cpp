#include "deferred_frame.h"

#include "frame_buffer.h"
#include "platform/prefix.h"
#include "simd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace board {

namespace {

// The buffer row of a vertex y, one row wider on each side than the rasteriser could touch;
// held to [0, height - 1] (NaN gives the whole screen through `fallback`).
int row_of(const Target& target, double y, int slack, int fallback) {
    double row = target.lower_left ? target.height - y : y;
    row = std::floor(row) + slack;
    if (!(row == row))
        return fallback;
    return int(std::clamp(row, 0.0, double(target.height - 1)));
}

// Polls `done` for up to DeferredFrame::k_linger; true once it holds.
template <class Done> bool poll_briefly(Done done) {
    const auto end = std::chrono::steady_clock::now() + DeferredFrame::k_linger;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done())
                return true;
#if defined(WT_HAVE_SSE2)
            _mm_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= end)
            return false;
    }
}

long process_id() {
#ifdef _WIN32
    return long(_getpid());
#else
    return long(getpid());
#endif
}

// A distance in pixels for the work estimate, held to [0, 65536] (NaN gives 0).
int64_t pixels_across(float distance) {
    return distance > 0.0f ? int64_t(std::min(distance, 65536.0f)) : 0;
}

} // namespace

int board_threads_from_env() {
    const long long cores = std::max(1u, std::thread::hardware_concurrency());
    const long long n = platform::env_number("WINTEST_BOARD_THREADS", cores);
    return int(std::clamp<long long>(n, 1, DeferredFrame::k_max_threads));
}

void DeferredFrame::set_threads(int threads) {
    flush();
    stop();
    m_threads = std::clamp(threads, 1, k_max_threads);
}

void DeferredFrame::record(Command command, int first_row, int last_row, int64_t pixels) {
    if (m_in_flight) // the workers read the commands and the bins
        finish();
    m_pixels += pixels;
    m_height = command.target.height;
    const auto index = uint32_t(m_commands.size());
    m_commands.push_back(command);
    const int bands = (command.target.height + k_band_rows - 1) / k_band_rows;
    if (int(m_bins.size()) < bands)
        m_bins.resize(size_t(bands));
    for (int band = first_row / k_band_rows; band <= last_row / k_band_rows; ++band)
        m_bins[size_t(band)].push_back(index);
}

void DeferredFrame::clear(const Target& target, uint32_t argb) {
    Command command{Kind::Clear, target, argb, {}, nullptr, {}};
    record(command, 0, target.height - 1, 0);
}

void DeferredFrame::triangle(const Target& target, const RenderState& state, const Texture* texture,
                             const GrVertex& a, const GrVertex& b, const GrVertex& c) {
    Command command{Kind::Triangle, target, 0, state, texture, {a, b, c}};
    const int bottom = target.height - 1;
    int first = bottom, last = 0;
    float left = float(target.width), right = 0.0f;
    for (const GrVertex* v : {&a, &b, &c}) {
        first = std::min(first, row_of(target, v->y, -1, 0));
        last = std::max(last, row_of(target, v->y, 1, bottom));
        left = std::min(left, v->x);
        right = std::max(right, v->x);
    }
    record(command, first, last, (pixels_across(right - left) + 1) * (last - first + 1));
}

void DeferredFrame::line(const Target& target, const RenderState& state, const Texture* texture,
                         const GrVertex& a, const GrVertex& b) {
    Command command{Kind::Line, target, 0, state, texture, {a, b, {}}};
    const int bottom = target.height - 1;
    const int first = std::min(row_of(target, a.y, -1, 0), row_of(target, b.y, -1, 0));
    const int last = std::max(row_of(target, a.y, 1, bottom), row_of(target, b.y, 1, bottom));
    record(command, first, last, (last - first + 1) + pixels_across(std::fabs(a.x - b.x)));
}

// One command, held to the rows of `target`.
void DeferredFrame::draw(const Command& c, const Target& target) {
    switch (c.kind) {
    case Kind::Clear: {
        const int first = std::max(0, target.first_row);
        const int end = std::min(target.height, target.end_row);
        if (end > first)
            fill_pixels(target.pixels + size_t(first) * size_t(target.width),
                        size_t(end - first) * size_t(target.width), c.argb);
        break;
    }
    case Kind::Triangle:
        draw_triangle(target, c.state, c.texture, c.v[0], c.v[1], c.v[2]);
        break;
    case Kind::Line:
        draw_line(target, c.state, c.texture, c.v[0], c.v[1]);
        break;
    }
}

// Every command of one band, in the order recorded, held to the band's rows.
void DeferredFrame::draw_band(int band) {
    for (uint32_t index : m_bins[size_t(band)]) {
        const Command& c = m_commands[index];
        Target target = c.target;
        target.first_row = band * k_band_rows;
        target.end_row = std::min(target.first_row + k_band_rows, target.height);
        draw(c, target);
    }
}

void DeferredFrame::flush() {
    if (!m_in_flight)
        start(false);
    if (m_in_flight)
        finish();
}

void DeferredFrame::start(bool lower_left) {
    if (m_in_flight || m_commands.empty())
        return;
    if (m_pixels < k_parallel_pixels) { // in order, as if drawn at once
        for (const Command& c : m_commands)
            draw(c, c.target);
        forget();
        return;
    }
    forget_workers_of_another_process();
    if (int(m_workers.size()) < m_threads - 1)
        start_workers();
    const int bands = int(m_bins.size());
    if (m_drawn.size() < size_t(bands))
        m_drawn = std::vector<std::atomic<int>>(size_t(bands));
    for (int band = 0; band < bands; ++band)
        m_drawn[size_t(band)].store(0, std::memory_order_relaxed);
    m_drawn_taken = 0;
    {
        std::lock_guard lock(m_mutex);
        m_bottom_up = lower_left;
        m_next_band = 0;
        m_open = true;
        ++m_generation;
    }
    m_in_flight = true;
    m_wake.notify_all();
}

bool DeferredFrame::take_band() {
    const int k = m_next_band.fetch_add(1);
    if (k >= int(m_bins.size()))
        return false;
    const int band = band_taken(k);
    draw_band(band);
    // The store and the load are sequentially consistent: either the drawing thread sees the
    // band drawn before it sleeps, or this sees it waiting (wait_for_band).
    m_drawn[size_t(band)].store(1);
    if (m_band_waiter.load()) {
        std::lock_guard lock(m_mutex); // it sleeps, or has not checked the band yet
        m_done.notify_all();
    }
    return true;
}

void DeferredFrame::wait_for_band(int band) {
    const std::atomic<int>& drawn = m_drawn[size_t(band)];
    if (poll_briefly([&] { return drawn.load(std::memory_order_acquire) != 0; }))
        return;
    std::unique_lock lock(m_mutex);
    m_band_waiter = true;
    m_done.wait(lock, [&] { return drawn.load() != 0; });
    m_band_waiter = false;
}

int DeferredFrame::drawn_rows(int height) {
    if (!m_in_flight)
        return height;
    const int bands = int(m_bins.size());
    while (m_drawn_taken < bands &&
           m_drawn[size_t(band_taken(m_drawn_taken))].load(std::memory_order_acquire))
        ++m_drawn_taken;
    // The first m_drawn_taken bands in the order taken: rows from the top or from the bottom.
    const int rows = m_bottom_up ? m_height - (bands - m_drawn_taken) * k_band_rows
                                 : m_drawn_taken * k_band_rows;
    return std::clamp(rows, 0, std::min(height, m_height));
}

void DeferredFrame::draw_rows(int rows) {
    if (!m_in_flight)
        return;
    rows = std::min(rows, m_height);
    while (drawn_rows(m_height) < rows) {
        // Every band is taken: wait for the next one in the order taken.
        if (!take_band())
            wait_for_band(band_taken(m_drawn_taken));
    }
    if (drawn_rows(m_height) == m_height)
        finish();
}

void DeferredFrame::finish() {
    while (take_band()) {
    }
    // Every band is taken: workers that have not joined yet stay out, and the flush waits
    // only for those still drawing (not for a worker the system has not run yet).
    {
        std::lock_guard lock(m_mutex);
        m_open = false;
    }
    if (!poll_briefly([this] { return m_active.load() == 0; })) {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_active == 0; });
    }
    m_in_flight = false;
    forget();
}

void DeferredFrame::forget() {
    m_commands.clear();
    for (auto& bin : m_bins)
        bin.clear();
    m_pixels = 0;
}

void DeferredFrame::work(uint64_t seen) {
    auto last_flush = std::chrono::steady_clock::now();
    bool poll = true; // the last two flushes started within k_linger of each other
    for (;;) {
        if (poll)
            poll_briefly([&] { return m_quit.load() || m_generation.load() != seen; });
        bool join;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_quit || m_generation != seen; });
            if (m_quit)
                return;
            seen = m_generation;
            join = m_open; // not when woken too late: the drawing thread has taken every band
            if (join)
                ++m_active;
        }
        const auto now = std::chrono::steady_clock::now();
        poll = now - last_flush < k_linger;
        last_flush = now;
        if (!join)
            continue;
        while (take_band()) {
        }
        std::lock_guard lock(m_mutex);
        if (--m_active == 0)
            m_done.notify_one();
    }
}

// After fork() the child has the parent's thread handles but not the threads: they can be
// neither joined nor detached, so the handles are left unreleased.
void DeferredFrame::forget_workers_of_another_process() {
    if (m_workers.empty() || m_workers_pid == process_id())
        return;
    new std::vector<std::thread>(std::move(m_workers)); // never destroyed
    m_workers.clear();
}

void DeferredFrame::start_workers() {
    std::lock_guard lock(m_mutex);
    m_quit = false;
    m_workers_pid = process_id();
    while (int(m_workers.size()) < m_threads - 1) {
        // A worker born now waits for the next generation, not the one already done.
        m_workers.emplace_back([this, seen = m_generation.load()] { work(seen); });
    }
}

void DeferredFrame::stop() {
    if (m_in_flight)
        finish();
    forget_workers_of_another_process();
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    for (auto& worker : m_workers)
        worker.join();
    m_workers.clear();
}

} // namespace board
