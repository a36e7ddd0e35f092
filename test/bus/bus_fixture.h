// The desktop bus between real processes: the test process joins as an observer with a
// window of its own and drives bus_peer programs.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include "platform/image.h"
#include "platform/prefix.h"
#include "win32/desktop.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bus_test {

namespace desktop = win32::desktop;

// The windows of a process; none when it does not answer.
inline std::vector<desktop::WindowInfo> windows_of(int pid) {
    auto found = desktop::windows(pid);
    return found ? std::move(*found) : std::vector<desktop::WindowInfo>();
}

// Its counters; nothing when it does not answer.
inline std::optional<desktop::Stats> stats_of(int pid) {
    auto got = desktop::stats(pid);
    return got ? std::optional(*got) : std::nullopt;
}

using namespace std::chrono_literals;

// The bus's bound on a broadcast in these tests. What must not wait for it is checked against
// half of it, which holds on a machine many times slower than a usual one; a peer that hangs
// is waited for in SlowDesktopBus, with a shorter bound.
constexpr auto kBound = std::chrono::milliseconds(8000);
constexpr auto kWellBelowTheBound = kBound / 2;
constexpr auto kSlowBound = std::chrono::milliseconds(1000);
using Clock = std::chrono::steady_clock;

struct Received {
    UINT message;
    WPARAM wParam;
};
inline std::vector<Received> g_received; // registered messages that reached this process's window

inline LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg >= 0xC000)
        g_received.push_back({msg, wParam});
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class DesktopBus : public testing::Test {
protected:
    void SetUp() override { start(kBound); }

    void start(std::chrono::milliseconds bound) {
        setenv("WINTEST_BUS_TIMEOUT_MS", std::to_string(bound.count()).c_str(), 1);
        // Numbers that the peers do not have: a name must cross, not a number.
        RegisterWindowMessageA("Filler One");
        RegisterWindowMessageA("Filler Two");
        m_ping = RegisterWindowMessageA("Test Ping");
        m_pong = RegisterWindowMessageA("Test Pong");
        ASSERT_TRUE(desktop::join(true));
        desktop::on_event([this](const platform::Event& e) {
            std::lock_guard lock(m_mutex);
            m_events.push_back(e);
        });
        WNDCLASSA wc{};
        wc.lpfnWndProc = HostProc;
        wc.lpszClassName = "HostClass";
        RegisterClassA(&wc);
        m_host = CreateWindowExA(0, "HostClass", "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_host, nullptr);
    }

    void TearDown() override {
        desktop::on_event(nullptr); // the fixture goes; the bus stays
        for (int pid : m_started)
            kill(pid, SIGKILL);
    }

    // Runs this process's messages until `done` holds or the time is up (a bound for a test
    // that broke, not a wait).
    template <class Pred> bool pump_until(Pred done, std::chrono::milliseconds limit = 30s) {
        auto until = Clock::now() + limit;
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            if (done())
                return true;
            if (Clock::now() >= until)
                return false;
            desktop::wait(5);
        }
    }

    // Starts a peer and waits until its window is on the desktop (a deaf one cannot say so:
    // its endpoint is enough).
    desktop::WindowInfo peer(const std::string& command_line) {
        auto started = desktop::start_program(WINTEST_BIN_DIR "/bus_peer", command_line, {});
        EXPECT_TRUE(started) << started.message();
        int pid = started ? *started : 0;
        m_started.push_back(pid);
        std::vector<desktop::WindowInfo> found;
        if (command_line.starts_with("deaf")) {
            EXPECT_TRUE(pump_until([&] { return std::filesystem::exists(endpoint_of(pid)); }));
            return {pid, 0, "", "", false, {}, {}};
        }
        pump_until([&] {
            found = windows_of(pid);
            return !found.empty();
        });
        EXPECT_EQ(found.size(), 1u) << "peer " << command_line << " has no window";
        return found.empty() ? desktop::WindowInfo{} : found[0];
    }

    std::vector<platform::Event> events_of(int pid) {
        std::lock_guard lock(m_mutex);
        std::vector<platform::Event> out;
        for (auto& e : m_events)
            if (e.pid == pid)
                out.push_back(e);
        return out;
    }

    // The debug strings a peer reported after its command line, once there are `count`.
    std::vector<std::string> inputs_heard(int pid, size_t count) {
        std::vector<std::string> got;
        pump_until([&] {
            got = debug_strings_of(pid);
            if (!got.empty())
                got.erase(got.begin());
            return got.size() >= count;
        });
        return got;
    }

    std::vector<std::string> debug_strings_of(int pid) {
        std::vector<std::string> out;
        for (auto& e : events_of(pid))
            if (e.kind == platform::EventKind::Debug)
                out.push_back(e.text);
        return out;
    }

    std::optional<platform::Event> exit_of(int pid) {
        for (auto& e : events_of(pid))
            if (e.kind == platform::EventKind::Exit)
                return e;
        return std::nullopt;
    }

    int pongs_with(WPARAM wParam) {
        int n = 0;
        for (auto& r : g_received)
            n += r.message == m_pong && r.wParam == wParam;
        return n;
    }

    std::chrono::milliseconds timed_ping(WPARAM wParam) {
        auto t0 = Clock::now();
        SendMessageA(HWND_BROADCAST, m_ping, wParam, 0);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    }

    std::string endpoint_of(int pid) {
        return platform::prefix_dir() + "/desktop/" + std::to_string(pid) + ".sock";
    }

    UINT m_ping{0}, m_pong{0};
    HWND m_host{nullptr};
    std::vector<int> m_started;
    std::mutex m_mutex;
    std::vector<platform::Event> m_events;
};

// Sends raw datagrams to a peer's endpoint, as a stray or hostile program might.
inline void send_raw(const std::string& path, const std::vector<uint8_t>& bytes) {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    for (int tries = 0; tries < 1000; ++tries) {
        if (sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&addr),
                   sizeof addr) >= 0)
            break;
        std::this_thread::sleep_for(1ms); // the peer's queue is full for a moment
    }
    close(fd);
}

inline std::vector<uint8_t> header(uint16_t version, uint16_t kind, uint32_t length) {
    std::vector<uint8_t> h;
    auto put = [&h](uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            h.push_back(uint8_t(v >> (8 * i)));
    };
    put(0x53425457, 4), put(version, 2), put(kind, 2), put(1, 4), put(getpid(), 4), put(0, 4);
    put(length, 4);
    return h;
}

} // namespace bus_test
