// The desktop bus between real processes: this test process joins as an observer with a
// window of its own and drives bus_peer programs.
#include "bus_fixture.h"
#include "child.h"

#include <sys/wait.h>

using namespace bus_test;

namespace {

// ---- broadcasts --------------------------------------------------------------------------

TEST_F(DesktopBus, BroadcastCrossesByNameAndTheAnswerArrivesInsideIt) {
    auto p = peer("echo one");
    SendMessageA(HWND_BROADCAST, m_ping, 41, 0);
    // The peer answered inside our broadcast, so its answer is here before SendMessageA returned.
    EXPECT_EQ(pongs_with(42), 1);
    auto broadcasts = events_of(p.pid);
    bool saw_pong = false;
    for (auto& e : broadcasts)
        saw_pong |=
            e.kind == platform::EventKind::Broadcast && e.name == "Test Pong" && e.wparam == 42;
    EXPECT_TRUE(pump_until([&] { return !events_of(p.pid).empty(); }));
    pump_until([&] {
        for (auto& e : events_of(p.pid))
            if (e.kind == platform::EventKind::Broadcast && e.name == "Test Pong")
                return true;
        return false;
    });
    for (auto& e : events_of(p.pid))
        saw_pong |=
            e.kind == platform::EventKind::Broadcast && e.name == "Test Pong" && e.wparam == 42;
    EXPECT_TRUE(saw_pong) << "the peer's broadcast reaches observers tagged with its pid";
}

TEST_F(DesktopBus, EveryPeerAnswersBeforeTheBroadcastReturns) {
    for (int i = 0; i < 4; ++i)
        peer("echo p" + std::to_string(i));
    SendMessageA(HWND_BROADCAST, m_ping, 7, 0);
    EXPECT_EQ(pongs_with(8), 4);
}

TEST_F(DesktopBus, TwoProcessesBroadcastingAtOnceBothGoOn) {
    auto p = peer("chatty c");
    auto longest = 0ms;
    for (int i = 0; i < 100; ++i)
        longest = std::max(longest, timed_ping(WPARAM(1000 + i)));
    EXPECT_LT(longest, kWellBelowTheBound)
        << "a broadcast waited for the bound: the two sides blocked";
    EXPECT_EQ(pongs_with(1050), 1);
    auto s = desktop::stats(p.pid);
    ASSERT_TRUE(s);
    EXPECT_GT(s->broadcasts_out, 10u) << "the peer kept broadcasting meanwhile";
    EXPECT_EQ(s->peers_skipped, 0u);
}

// ---- peers that die, hang or send garbage --------------------------------------------------

TEST_F(DesktopBus, DeadPeerIsDroppedAndItsEndpointRemoved) {
    auto p = peer("echo doomed");
    ASSERT_TRUE(std::filesystem::exists(endpoint_of(p.pid)));
    kill(p.pid, SIGKILL);
    ASSERT_TRUE(pump_until([&] { return exit_of(p.pid).has_value(); }));
    EXPECT_EQ(exit_of(p.pid)->signal, SIGKILL);
    EXPECT_EQ(exit_of(p.pid)->code, 128 + SIGKILL);
    EXPECT_LT(timed_ping(1), kWellBelowTheBound);
    EXPECT_FALSE(std::filesystem::exists(endpoint_of(p.pid)));
}

TEST_F(DesktopBus, PeerDyingInsideTheBroadcastDoesNotHoldItUp) {
    auto p = peer("echo dies");
    auto other = peer("echo lives");
    auto t0 = Clock::now();
    SendMessageA(HWND_BROADCAST, RegisterWindowMessageA("Test Die"), WPARAM(p.pid), 0);
    EXPECT_LT(Clock::now() - t0, kWellBelowTheBound);
    ASSERT_TRUE(pump_until([&] { return exit_of(p.pid).has_value(); }));
    EXPECT_EQ(exit_of(p.pid)->signal, SIGKILL);
    EXPECT_LT(timed_ping(5), kWellBelowTheBound);
    EXPECT_EQ(pongs_with(6), 1) << "the living peer still answers";
}

class SlowDesktopBus : public DesktopBus {
protected:
    void SetUp() override { start(kSlowBound); }
};

TEST_F(SlowDesktopBus, PeerThatNeverAnswersIsSkippedAfterTheBound) {
    auto deaf = peer("deaf d");
    auto echo = peer("echo e");
    auto took = timed_ping(11);
    EXPECT_GE(took, kSlowBound - 1ms); // whole milliseconds
    EXPECT_LT(took, 4 * kSlowBound) << "waited for the bound once, not again and again";
    // The echo peer's answer waited for the deaf one too; once it is in, the deaf peer is
    // known to hang on both sides and no longer holds broadcasts up.
    EXPECT_TRUE(pump_until([&] { return pongs_with(12) == 1; }));
    EXPECT_TRUE(pump_until([&] { // the echo peer's own wait on the deaf one ends
        auto s = desktop::stats(echo.pid);
        return s && s->peers_skipped >= 1;
    }));
    EXPECT_LT(timed_ping(21), kSlowBound) << "the hung peer was not waited for";
    EXPECT_EQ(pongs_with(22), 1) << "the answering peer was still served";
    auto listed = desktop::windows(deaf.pid);
    ASSERT_FALSE(listed);
    EXPECT_NE(listed.message().find("did not answer"), std::string::npos) << listed.message();
}

TEST_F(DesktopBus, MalformedDatagramsAreCountedAndDropped) {
    auto p = peer("echo target");
    std::string path = endpoint_of(p.pid);
    std::vector<std::vector<uint8_t>> garbage;
    garbage.push_back({});                               // empty
    garbage.push_back({'h', 'e', 'l', 'l', 'o'});        // text, no header
    garbage.push_back(std::vector<uint8_t>(4000, 0xA5)); // noise
    garbage.push_back(header(2, 1, 0));                  // a later version
    garbage.push_back(header(1, 99, 0));                 // unknown kind
    auto longer = header(1, 1, 50);                      // claims more than it carries
    longer.resize(longer.size() + 10);
    garbage.push_back(longer);
    auto text = header(1, 1, 9); // a broadcast whose name runs past the end
    for (uint8_t b : {1, 0xC0, 0, 0, 0, 0xFF, 0xFF, 0, 0})
        text.push_back(b);
    garbage.push_back(text);
    auto request = header(1, 3, 2); // a request of an unknown kind
    request.push_back(0x77), request.push_back(0);
    garbage.push_back(request);
    for (auto& g : garbage)
        send_raw(path, g);
    std::optional<desktop::Stats> s;
    pump_until([&] { return (s = stats_of(p.pid)) && s->malformed >= garbage.size(); });
    ASSERT_TRUE(s);
    EXPECT_EQ(s->malformed, garbage.size());
    SendMessageA(HWND_BROADCAST, m_ping, 99, 0);
    EXPECT_EQ(pongs_with(100), 1) << "the peer still serves the desktop";
}

// ---- a controller's requests ---------------------------------------------------------------

TEST_F(DesktopBus, CommandLineTailArrivesByteForByte) {
    std::string tail = "echo   two  \t\"quoted words\"  ";
    auto p = peer(tail);
    ASSERT_TRUE(pump_until([&] { return !debug_strings_of(p.pid).empty(); }));
    EXPECT_EQ(debug_strings_of(p.pid)[0], tail);
}

TEST_F(DesktopBus, FirstWindowIsReportedAndFoundByClassAndTitle) {
    auto p = peer("echo Finder Title");
    EXPECT_EQ(p.class_name, "PeerClass");
    EXPECT_EQ(p.title, "Finder Title");
    EXPECT_TRUE(p.visible);
    EXPECT_EQ(p.window.left, 10);
    EXPECT_EQ(p.window.right - p.window.left, 240);
    EXPECT_GT(p.client.top, p.window.top) << "the caption lies above the client area";
    auto all = events_of(p.pid);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].kind, platform::EventKind::Window);
    EXPECT_EQ(all[0].name, "PeerClass");
    EXPECT_EQ(all[0].text, "Finder Title");
    EXPECT_EQ(all[0].program, "bus_peer");
}

TEST_F(DesktopBus, KeysArriveAsRealInputWithRepeatAndShift) {
    auto p = peer("echo keys");
    for (auto [vk, down] : std::vector<std::pair<UINT, bool>>{{VK_SHIFT, true},
                                                              {'A', true},
                                                              {'A', true},
                                                              {'B', true},
                                                              {'A', false},
                                                              {'B', false},
                                                              {VK_SHIFT, false},
                                                              {VK_F10, true},
                                                              {VK_F10, false},
                                                              {0xE5, true}})
        ASSERT_TRUE(desktop::inject_key(p, vk, down));
    std::vector<std::string> expected = {"keydown 10 repeat 0 shift 1",
                                         "keydown 41 repeat 0 shift 1",
                                         "keydown 41 repeat 1 shift 1",
                                         "keydown 42 repeat 0 shift 1",
                                         "keyup 41",
                                         "keyup 42",
                                         "keyup 10",
                                         "syskeydown 79 repeat 0 shift 0",
                                         "syskeyup 79",
                                         "keydown e5 repeat 0 shift 0"};
    EXPECT_EQ(inputs_heard(p.pid, expected.size()), expected);
}

// The same strokes as one request: the same messages in the same order, the key state as it
// was at each; a batch past the limit is refused before it leaves.
TEST_F(DesktopBus, KeyBatchArrivesInOrderAsRealInput) {
    auto p = peer("echo batch");
    std::vector<std::pair<UINT, bool>> strokes = {
        {VK_SHIFT, true},  {'A', true},    {'A', true},    {'A', false},
        {VK_SHIFT, false}, {VK_F10, true}, {VK_F10, false}};
    ASSERT_TRUE(desktop::inject_keys(p, strokes));
    std::vector<std::string> expected = {"keydown 10 repeat 0 shift 1",
                                         "keydown 41 repeat 0 shift 1",
                                         "keydown 41 repeat 1 shift 1",
                                         "keyup 41",
                                         "keyup 10",
                                         "syskeydown 79 repeat 0 shift 0",
                                         "syskeyup 79"};
    EXPECT_EQ(inputs_heard(p.pid, expected.size()), expected);
    auto refused = desktop::inject_keys(p, std::vector<std::pair<UINT, bool>>(4097, {'A', true}));
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.message().find("more than 4096"), std::string::npos) << refused.message();
    auto listed = desktop::windows(p.pid);
    ASSERT_TRUE(listed) << listed.message();
    ASSERT_EQ(listed->size(), 1u);
    EXPECT_TRUE((*listed)[0].style & WS_VISIBLE) << std::hex << (*listed)[0].style;
}

TEST_F(DesktopBus, WindowCommandsMoveResizeAndChangeTheDisplay) {
    auto p = peer("echo geometry");
    ASSERT_TRUE(desktop::window_command(p, desktop::WindowCommand::Move, 100, 50));
    ASSERT_TRUE(desktop::window_command(p, desktop::WindowCommand::Resize, 300, 200));
    ASSERT_TRUE(desktop::window_command(p, desktop::WindowCommand::DisplayChange, 800, 600));
    auto listed = desktop::windows(p.pid);
    ASSERT_TRUE(listed) << listed.message();
    ASSERT_EQ(listed->size(), 1u);
    const RECT& now = (*listed)[0].window;
    EXPECT_EQ(now.left, 100);
    EXPECT_EQ(now.top, 50);
    EXPECT_EQ(now.right, 400);
    EXPECT_EQ(now.bottom, 250);
    pump_until([&] { return debug_strings_of(p.pid).size() >= 2; });
    EXPECT_EQ(debug_strings_of(p.pid).back(), "displaychange 800 600");
    desktop::WindowInfo gone = p;
    gone.hwnd = 0x1234;
    auto moved = desktop::window_command(gone, desktop::WindowCommand::Move, 1, 1);
    EXPECT_FALSE(moved);
    EXPECT_EQ(moved.message(), "no such window");
}

TEST_F(DesktopBus, ClosingTheWindowEndsThePeerAndItsExitComesLast) {
    auto p = peer("echo closing");
    SendMessageA(HWND_BROADCAST, RegisterWindowMessageA("Test Box"), 0, 0);
    ASSERT_TRUE(desktop::window_command(p, desktop::WindowCommand::Close));
    ASSERT_TRUE(pump_until([&] { return exit_of(p.pid).has_value(); }));
    auto all = events_of(p.pid);
    EXPECT_EQ(all.back().kind, platform::EventKind::Exit);
    EXPECT_EQ(all.back().code, 7);
    EXPECT_EQ(all.back().signal, 0);
    EXPECT_EQ(all.back().program, "bus_peer");
    bool box = false;
    for (auto& e : all)
        box |= e.kind == platform::EventKind::Box && e.caption == "Peer Caption" &&
               e.text == "Two  spaces\nand a line";
    EXPECT_TRUE(box) << "the message box is reported with caption and text exactly";
    auto listed = desktop::windows(p.pid);
    ASSERT_FALSE(listed);
    EXPECT_FALSE(listed.message().empty());
}

TEST_F(DesktopBus, PictureOfAWindowIsAPngOfItsClientArea) {
    auto p = peer("echo picture");
    std::string path = platform::prefix_dir() + "/window.png";
    auto written = desktop::picture(p.pid, desktop::Picture::Window, p.hwnd, path);
    ASSERT_TRUE(written) << written.message();
    platform::Image image = platform::read_png(path);
    EXPECT_EQ(image.width, p.client.right - p.client.left);
    EXPECT_EQ(image.height, p.client.bottom - p.client.top);
    EXPECT_FALSE(desktop::picture(p.pid, desktop::Picture::Window, 0x1234, path));
    written = desktop::picture(p.pid, desktop::Picture::Window, p.hwnd, "/nonexistent/x.png");
    EXPECT_FALSE(written);
    EXPECT_NE(written.message().find("cannot write"), std::string::npos) << written.message();
}

TEST_F(DesktopBus, RequestToAProcessNotOnTheDesktopFailsAtOnce) {
    auto t0 = Clock::now();
    auto frames = desktop::frame_count(999999);
    EXPECT_FALSE(frames);
    EXPECT_LT(Clock::now() - t0, kWellBelowTheBound);
    EXPECT_NE(frames.message().find("no process"), std::string::npos) << frames.message();
}

} // namespace

namespace {

// A child forked from a process on the desktop (as a death test forks) does not speak for it.
// The one place a test forks a process with threads without exec, as the case is about fork
// itself: the fork happens while the bus is idle, and each child's end is waited for with a
// bound, so a child stuck on a lock fails the case instead of hanging the suite.
TEST_F(DesktopBus, ForkedChildLeavesTheParentsEndpointAlone) {
    auto p = peer("echo parent-peer");
    std::string own =
        platform::prefix_dir() + "/desktop/" + std::to_string(getpid()) + ".watch.sock";
    ASSERT_TRUE(std::filesystem::exists(own));
    pid_t child = fork();
    if (child == 0) {
        auto t0 = Clock::now();
        SendMessageA(HWND_BROADCAST, RegisterWindowMessageA("Test Ping"), 1, 0);
        _exit(Clock::now() - t0 < kWellBelowTheBound && !desktop::joined() ? 0 : 1);
    }
    EXPECT_EQ(wt_test::wait_for_exit(child, 20s), 0) << "the child's broadcast stayed in the child";
    pid_t exiting = fork();
    if (exiting == 0)
        exit(0); // runs the exit handlers
    ASSERT_EQ(wt_test::wait_for_exit(exiting, 20s), 0);
    EXPECT_TRUE(std::filesystem::exists(own)) << "a child's exit removed the parent's endpoint";
    SendMessageA(HWND_BROADCAST, m_ping, 70, 0);
    EXPECT_EQ(pongs_with(71), 1);
}

} // namespace
