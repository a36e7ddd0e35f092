// The GUI thread's sleep: woken by another thread without a wake ever lost, and on the
// desktop by the datagrams it then reads itself, while other threads' calls still get their
// answers.
#include "bus_fixture.h"

#include "bus/bus.h"

#include <atomic>
#include <functional>

namespace {

using namespace bus_test;

// Another thread sets a round's flag and wakes the sleeper, at every moment of its way into
// the sleep. A wake that went unseen would leave the sleeper to its whole bound, far longer
// than all the rounds together take.
void expect_no_lost_wake() {
    constexpr int kRounds = 2000;
    constexpr auto kLongBound = std::chrono::milliseconds(10000);
    std::atomic<int> asked{0}, done{0};
    std::thread waker([&] {
        for (int round = 1; round <= kRounds; ++round) {
            while (asked.load() < round)
                std::this_thread::yield();
            // A delay that differs each round, so the wake meets every step of the way in.
            std::atomic<int> spin{0};
            while (spin.fetch_add(1, std::memory_order_relaxed) < round % 1000) {
            }
            done.store(round);
            bus::wake_gui_thread();
        }
    });
    int lost = 0;
    for (int round = 1; round <= kRounds && !lost; ++round) {
        asked.store(round);
        auto t0 = Clock::now();
        while (done.load() < round)
            bus::wait_on_gui_thread(kLongBound, [&] { return done.load() >= round; });
        if (Clock::now() - t0 >= kLongBound / 2)
            lost = round;
    }
    asked.store(kRounds); // lets the waker finish at once after a lost round
    waker.join();
    EXPECT_EQ(lost, 0) << "the wake of this round was lost: the sleep ran to its bound";
}

TEST(GuiWait, WakeFromAnotherThreadIsNeverLostOffTheDesktop) {
    if (desktop::joined()) // an earlier test of this run joined; ctest runs each alone
        GTEST_SKIP() << "this process is on the desktop already";
    expect_no_lost_wake();
}

TEST_F(DesktopBus, WakeFromAnotherThreadIsNeverLostOnTheDesktop) {
    expect_no_lost_wake();
}

// A thread other than the GUI thread broadcasts while the GUI thread sleeps in GetMessage: the
// peers' answers, which the GUI thread may read itself, still reach the broadcasting thread,
// and their "Test Pong" broadcasts reach the window inside it.
TEST_F(DesktopBus, BroadcastFromAnotherThreadIsAnsweredWhileTheGuiThreadSleeps) {
    auto p1 = peer("echo a");
    auto p2 = peer("echo b");
    constexpr int kBroadcasts = 50;
    constexpr UINT kFinished = WM_USER + 1;
    std::atomic<int64_t> longest_ms{0};
    std::thread caller([&] {
        for (int i = 0; i < kBroadcasts; ++i) {
            auto t0 = Clock::now();
            bus::broadcast_to_peers(m_ping, WPARAM(500 + 2 * i), 0);
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
            longest_ms = std::max<int64_t>(longest_ms, ms.count());
        }
        PostMessageA(m_host, kFinished, 0, 0);
    });
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != kFinished)
        DispatchMessageA(&msg);
    caller.join();
    EXPECT_LT(longest_ms.load(), kWellBelowTheBound.count())
        << "a broadcast from another thread waited for the bound";
    for (int i = 0; i < kBroadcasts; ++i)
        EXPECT_EQ(pongs_with(WPARAM(501 + 2 * i)), 2) << "broadcast " << i;
    for (auto& p : {p1, p2}) {
        auto s = stats_of(p.pid);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->peers_skipped, 0u)
            << "a peer's broadcast back to the sleeping window went unanswered";
    }
}

// A peer tells observers of its broadcast before it sends it. The GUI thread may read the
// broadcast itself while the event goes to the receiver thread's handler: the broadcast must
// still reach the window only after the handler has heard of it.
std::function<void(WPARAM)> g_on_pong; // the test's check, called from OrderProc
UINT g_order_pong = 0;

LRESULT CALLBACK OrderProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == g_order_pong && g_on_pong)
        g_on_pong(wParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST_F(DesktopBus, ObserverHearsOfABroadcastBeforeItsWindowReceivesIt) {
    auto p = peer("echo order");
    g_order_pong = m_pong;
    int seen = 0, early = 0;
    g_on_pong = [&](WPARAM wParam) {
        ++seen;
        bool heard = false;
        for (auto& e : events_of(p.pid))
            heard |= e.kind == platform::EventKind::Broadcast && e.name == "Test Pong" &&
                     e.wparam == wParam;
        early += !heard;
    };
    WNDCLASSA wc{};
    wc.lpfnWndProc = OrderProc;
    wc.lpszClassName = "OrderClass";
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, "OrderClass", "order", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr,
                             nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    for (int i = 0; i < 200; ++i)
        SendMessageA(HWND_BROADCAST, m_ping, WPARAM(3000 + 2 * i), 0);
    DestroyWindow(w);
    g_on_pong = nullptr;
    EXPECT_EQ(seen, 200);
    EXPECT_EQ(early, 0) << "a broadcast reached the window before the observer heard of it";
}

} // namespace
