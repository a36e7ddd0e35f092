// The desktop bus's costs: a broadcast's round trip to one and to four other processes, a
// key's way from injection to the program's GetKey, and the time from starting the Glide
// test to its first presented frame.
//
// The peers are this binary started again with --peer: each has one window and, when a key
// arrives, broadcasts "Bench Key Seen" back.
#include <benchmark/benchmark.h>

#include <windows.h>

#include "platform/events.h"
#include "shell.h"
#include "win32/desktop.h"
#include "win32/harness.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace desktop = win32::desktop;

namespace {

UINT g_ping, g_seen;
int g_seen_count = 0; // "Bench Key Seen" broadcasts that reached this process

LRESULT CALLBACK BenchProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == g_seen && g_seen != 0)
        ++g_seen_count;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK PeerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_KEYDOWN)
        SendMessageA(HWND_BROADCAST, g_seen, wParam, 0);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND make_window(WNDPROC proc, const char* class_name) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = class_name;
    RegisterClassA(&wc);
    return CreateWindowExA(0, class_name, class_name, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                           nullptr, nullptr, nullptr);
}

int run_peer() {
    g_ping = RegisterWindowMessageA("Bench Ping");
    g_seen = RegisterWindowMessageA("Bench Key Seen");
    make_window(PeerProc, "BenchPeer");
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

// Peers running for the whole run, started on first use.
class Peers {
public:
    static Peers& the() {
        static Peers s_peers;
        return s_peers;
    }

    // Makes sure exactly `n` peers are on the desktop.
    void ensure(int n) {
        while (int(m_pids.size()) > n) {
            kill(m_pids.back(), SIGKILL);
            waitpid(m_pids.back(), nullptr, 0);
            m_pids.pop_back();
        }
        while (int(m_pids.size()) < n) {
            auto started = desktop::start_program(m_self, "", {"WINTEST_BENCH_PEER=1"});
            int pid = started ? *started : 0;
            m_pids.push_back(pid);
            for (auto found = desktop::windows(pid); !found || found->empty();
                 found = desktop::windows(pid))
                desktop::wait(5);
        }
        // Wait for the killed peers' endpoints to be dropped.
        for (int i = 0; i < 3; ++i)
            SendMessageA(HWND_BROADCAST, g_ping, 0, 0);
    }

    int first() const { return m_pids.front(); }

    ~Peers() {
        for (int pid : m_pids)
            kill(pid, SIGKILL);
    }

private:
    Peers() { m_self = std::filesystem::read_symlink("/proc/self/exe").string(); }
    std::string m_self;
    std::vector<int> m_pids;
};

// Besides the mean, the slowest round trip and how many took over a millisecond: a wake that
// is lost shows there (the waiting thread then sleeps until its next tick).
void BM_BroadcastRoundTrip(benchmark::State& state) {
    Peers::the().ensure(int(state.range(0)));
    using Clock = std::chrono::steady_clock;
    Clock::duration slowest{};
    int64_t over_1ms = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        SendMessageA(HWND_BROADCAST, g_ping, 1, 2);
        auto took = Clock::now() - t0;
        slowest = std::max(slowest, took);
        over_1ms += took > std::chrono::milliseconds(1);
    }
    state.counters["max_us"] =
        double(std::chrono::duration_cast<std::chrono::microseconds>(slowest).count());
    state.counters["over_1ms"] = double(over_1ms);
    state.SetLabel(std::to_string(state.range(0)) + " peer(s)");
}
BENCHMARK(BM_BroadcastRoundTrip)->Arg(1)->Arg(4)->UseRealTime();

// Controller to a program in another process: the key goes in as real input, the peer's
// window procedure receives WM_KEYDOWN and announces it with a broadcast back.
void BM_KeyInjectionAcrossTheBus(benchmark::State& state) {
    Peers::the().ensure(1);
    auto found = desktop::windows(Peers::the().first());
    std::vector<desktop::WindowInfo> windows = found ? *found : std::vector<desktop::WindowInfo>();
    if (windows.empty()) {
        state.SkipWithError("no peer window");
        return;
    }
    for (auto _ : state) {
        int before = g_seen_count;
        (void)desktop::inject_key(windows[0], 'A', true);
        while (g_seen_count == before) {
            pump();
            if (g_seen_count == before)
                desktop::wait(1);
        }
        state.PauseTiming();
        (void)desktop::inject_key(windows[0], 'A', false);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_KeyInjectionAcrossTheBus)->UseRealTime();

// Within the program: the harness injects a key into the test window and the test's GetKey
// returns it (the message queue, TestWindowProc and the key queue).
void BM_KeyInjectionToGetKey(benchmark::State& state) {
    static HWND test_window = nullptr;
    if (!test_window) {
        CreateTestWindow("Kavix TV Adjustment", GetModuleHandleA(nullptr), "none.bmp");
        test_window = FindWindowA("WinGlideClass", nullptr);
    }
    for (auto _ : state) {
        win32::harness::inject_key('R', true, test_window);
        benchmark::DoNotOptimize(GetKey());
        win32::harness::inject_key('R', false, test_window);
    }
}
BENCHMARK(BM_KeyInjectionToGetKey);

// From starting `wintest 2 <logo> <texture>` (the Glide test) to the board's first presented
// frame, as a controller sees it: the program starts, joins the desktop with its first window,
// opens the board and swaps; the controller asks its frame count until it is one or more.
void BM_GlideTestToFirstFrame(benchmark::State& state) {
    static std::mutex s_mutex;
    static std::set<int> s_ended;
    desktop::on_event([](const platform::Event& e) {
        if (e.kind == platform::EventKind::Exit) {
            std::lock_guard lock(s_mutex);
            s_ended.insert(e.pid);
        }
    });
    std::string program =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/wintest";
    std::string line =
        "2 " WINTEST_SOURCE_DIR "/data/kvxlogo.bmp " WINTEST_SOURCE_DIR "/data/sample256.3df";
    for (auto _ : state) {
        auto started = desktop::start_program(program, line, {});
        if (!started) {
            state.SkipWithError(started.message().c_str());
            break;
        }
        int pid = *started;
        for (;;) {
            auto frames = desktop::frame_count(pid);
            if (frames && *frames > 0)
                break;
            {
                std::lock_guard lock(s_mutex);
                if (s_ended.count(pid)) {
                    state.SkipWithError("the Glide test ended before its first frame");
                    return;
                }
            }
            if (!frames)
                desktop::wait(1); // not on the desktop yet: leave it the processor
        }
        state.PauseTiming();
        kill(pid, SIGKILL); // the next run needs the board
        for (;;) {
            {
                std::lock_guard lock(s_mutex);
                if (s_ended.count(pid))
                    break;
            }
            desktop::wait(10);
        }
        state.ResumeTiming();
    }
    desktop::on_event(nullptr);
}
BENCHMARK(BM_GlideTestToFirstFrame)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (getenv("WINTEST_BENCH_PEER"))
        return run_peer();
    char prefix[] = "/tmp/wintest-bench-XXXXXX";
    if (!getenv("WINTEST_PREFIX") && mkdtemp(prefix))
        setenv("WINTEST_PREFIX", prefix, 1);
    setenv("WINTEST_DISPLAY", "headless", 0);
    setenv("WINTEST_VSYNC", "0", 0);
    g_ping = RegisterWindowMessageA("Bench Ping");
    g_seen = RegisterWindowMessageA("Bench Key Seen");
    desktop::join(false);
    make_window(BenchProc, "BenchHost");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Peers::the().ensure(0);
    std::error_code ec;
    if (strcmp(prefix, "/tmp/wintest-bench-XXXXXX") != 0)
        std::filesystem::remove_all(prefix, ec);
    return 0;
}
