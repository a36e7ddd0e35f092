// The board's tile-binned back end: draw calls into the back buffer are recorded instead of
// drawn, binned to bands of screen rows (tiles the width of the screen), and drawn when the
// frame is needed (the buffer swap, a write into the frame, a change of texture memory) by a
// pool of worker threads, one band at a time. Every command is drawn in its band in the order
// it was recorded, and the rasteriser computes each row from the primitive alone, so the
// pixels are the same, bit for bit, as drawing each call at once.
//
// Points are not recorded: they are drawn at once, after what is recorded before them. Their
// first one starts a flush on the workers and returns (start()): the bands are drawn in the
// order of the program's rows (from row 0 of its vertices), and the drawing thread draws the
// points of the rows already drawn while the workers go on (draw_rows() helps them, or waits,
// when a point is further on).
//
// Threads: only the drawing thread records and flushes; the workers run only while a flush is
// in flight and otherwise wait, holding no lock. stop() joins them (grGlideShutdown); a process
// that exits or forks while the board is open leaves them waiting, which is harmless. A child
// of fork() that draws without exec starts workers of its own (its parent's are not in it).
#pragma once

#include "rasterizer.h"
#include "render_state.h"
#include "texture_memory.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace board {

class DeferredFrame {
public:
    static constexpr int k_band_rows = 32; // rows of one tile
    static constexpr int k_max_threads = 64;
    // Below this many pixels of triangles and lines (their bounding boxes), a flush is drawn
    // on the drawing thread alone: waking the workers would cost more than they save.
    static constexpr int64_t k_parallel_pixels = 32768;
    // While flushes start within this time of each other, a worker done with one polls this
    // long for the next before it sleeps, and the drawing thread polls as long for the workers
    // to finish: frames drawn back to back then find each other awake (waking a sleeping
    // thread can cost tens of microseconds on a virtual machine, a good part of a frame), and
    // frames a retrace apart cost no polling.
    static constexpr std::chrono::microseconds k_linger{1000};

    DeferredFrame() = default;
    DeferredFrame(const DeferredFrame&) = delete;
    DeferredFrame& operator=(const DeferredFrame&) = delete;
    ~DeferredFrame() { stop(); }

    // The threads that draw (the drawing thread counts as one); 1 draws every call at once.
    void set_threads(int threads);
    [[nodiscard]] int threads() const { return m_threads; }
    [[nodiscard]] bool deferring() const { return m_threads > 1; }

    void clear(const Target& target, uint32_t argb);
    void triangle(const Target& target, const RenderState& state, const Texture* texture,
                  const GrVertex& a, const GrVertex& b, const GrVertex& c);
    void line(const Target& target, const RenderState& state, const Texture* texture,
              const GrVertex& a, const GrVertex& b);

    // Draws everything recorded and returns when it is in the buffer.
    void flush();
    // Starts drawing what is recorded, its bands in the order of the rows of vertex y (from
    // y = 0 at the bottom when `lower_left`), and returns: on the workers when there is work
    // enough for them, otherwise all of it at once.
    void start(bool lower_left);
    [[nodiscard]] bool in_flight() const { return m_in_flight; }
    // The rows of vertex y, [0, result), that are drawn: all of `height` unless in flight.
    [[nodiscard]] int drawn_rows(int height);
    // Returns when the rows of vertex y [0, rows) are drawn, drawing bands itself while there
    // are bands no worker has taken.
    void draw_rows(int rows);
    // Joins the workers (they start again at the next flush that needs them).
    void stop();

private:
    enum class Kind : uint8_t { Clear, Triangle, Line };
    struct Command {
        Kind kind;
        Target target;
        uint32_t argb;
        RenderState state;
        const Texture* texture;
        GrVertex v[3];
    };

    void record(Command command, int first_row, int last_row, int64_t pixels);
    static void draw(const Command& command, const Target& target);
    void draw_band(int band);
    // Takes the next band no thread has taken and draws it; false when none is left.
    bool take_band();
    void wait_for_band(int band); // one a worker has taken
    void finish(); // the flush in flight: draws what no worker took, waits for the workers
    void forget(); // what was recorded, once drawn
    void work(uint64_t seen);
    void start_workers();
    void forget_workers_of_another_process();

    int m_threads{1};
    std::vector<Command> m_commands;
    std::vector<std::vector<uint32_t>> m_bins; // per band, the commands that touch it
    int64_t m_pixels{0};                       // of triangles and lines, roughly
    int m_height{0};                           // of the recorded commands' target

    // The pool: a generation counter starts a flush, workers join it while it is open and
    // take bands from m_next_band, the k-th band taken being band_taken(k). A band drawn is
    // marked in m_drawn; m_drawn_taken counts the bands from the first taken on that the
    // drawing thread has seen drawn.
    std::vector<std::thread> m_workers;
    long m_workers_pid{0}; // the process that started them
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    // Changed under m_mutex; also read without it by a thread that polls before it sleeps.
    std::atomic<uint64_t> m_generation{0};
    std::atomic<int> m_active{0}; // workers drawing in the current flush
    std::atomic<bool> m_quit{false};
    bool m_open{false}; // the flush takes workers (until the drawing thread runs out of bands)
    std::atomic<int> m_next_band{0};
    bool m_bottom_up{false};
    bool m_in_flight{false};
    std::vector<std::atomic<int>> m_drawn;  // per band
    std::atomic<bool> m_band_waiter{false}; // the drawing thread sleeps on m_done for a band
    int m_drawn_taken{0};

    [[nodiscard]] int band_taken(int k) const {
        return m_bottom_up ? int(m_bins.size()) - 1 - k : k;
    }
};

// WINTEST_BOARD_THREADS, or the number of cores; at least 1, at most k_max_threads.
[[nodiscard]] int board_threads_from_env();

} // namespace board
