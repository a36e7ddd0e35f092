// Start-up, the test window and the keyboard queue.
#include <gtest/gtest.h>
#include "program_reset.h"
#include "sheet_messages.h"

#include "shell.h"

#include "platform/events.h"
#include "win32/harness.h"
#include "win32/testing.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// ---- command line ------------------------------------------------------------------------

std::vector<std::string> split(const char* tail) {
    int count = 0;
    char** words = SplitCommandLine(tail, &count);
    return std::vector<std::string>(words, words + count);
}

TEST(CommandLine, NullTailGivesOnlyTheProgramName) {
    EXPECT_EQ(split(nullptr), std::vector<std::string>{"WinTest"});
    EXPECT_EQ(split(""), std::vector<std::string>{"WinTest"});
}

TEST(CommandLine, SpacesSeparateTabsAndQuotesDoNot) {
    EXPECT_EQ(split("   1   a\tb \"c d\"  "),
              (std::vector<std::string>{"WinTest", "1", "a\tb", "\"c", "d\""}));
}

TEST(CommandLine, ThirtyFirstWordKeepsTheRestOfTheLine) {
    std::string tail;
    for (int i = 1; i <= 40; ++i)
        tail += std::to_string(i) + " ";
    auto words = split(tail.c_str());
    ASSERT_EQ(words.size(), 32u);
    EXPECT_EQ(words[30], "30");
    EXPECT_EQ(words[31].substr(0, 6), "31 32 ") << words[31];
}

TEST(CommandLine, WordsStartingAtOffset1022AreDropped) {
    std::string tail(1021, ' ');
    tail += "ab"; // starts at 1021: kept
    EXPECT_EQ(split(tail.c_str()).size(), 2u);
    std::string late(1022, ' ');
    late += "ab"; // starts at 1022: dropped
    EXPECT_EQ(split(late.c_str()).size(), 1u);
}

TEST(CommandLine, TailLongerThanTheBufferIsCut) {
    std::string tail = "2 " + std::string(5000, 'x');
    auto words = split(tail.c_str());
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[2].size(), 1021u) << "1023 characters fit the copy";
}

// ---- start-up ----------------------------------------------------------------------------

int run(const char* tail) {
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(tail), SW_SHOWNORMAL);
}

TEST(StartUp, NoModeOrUnknownModeReturnsWithoutAWindow) {
    for (const char* tail : {"", "3", "-1"}) {
        EXPECT_EQ(run(tail), 0) << tail;
        EXPECT_TRUE(win32::testing::windows().empty()) << tail;
    }
}

TEST(StartUp, ModeWithoutTestWordsOpensTheWindowThenEndsWithOne) {
    EXPECT_EXIT(
        {
            int sink = platform::add_event_sink([](const platform::Event& e) {
                if (e.kind == platform::EventKind::Window)
                    fprintf(stderr, "window [%s] [%s]\n", e.name.c_str(), e.text.c_str());
            });
            (void)sink;
            run("  1  ");
        },
        testing::ExitedWithCode(1),
        "window \\[WinGlideClass\\] \\[Kavix Gamma Correction Adjustment\\]");
}

TEST(StartUp, ModeIsReadLikeScanfDecimal) {
    EXPECT_EXIT(run("2.5"), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(run("abc"), testing::ExitedWithCode(1), "");
}

// ---- test window ------------------------------------------------------------------------

class TestWindowFixture : public testing::Test {
protected:
    void SetUp() override {
        program_reset::shell();
        PropertySheetClosedMessage = RegisterWindowMessageA(KVXPS_SHEET_CLOSED);
        TvApplicationClosedMessage = RegisterWindowMessageA(KVXPS_TV_APPLICATION_CLOSED);
        ASSERT_TRUE(CreateTestWindow("Kavix TV Adjustment", nullptr, "missing.bmp"));
    }

    // Dispatches what is pending, as a frame's KeyAvailable would, without taking keys.
    void pump() {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }
};

TEST_F(TestWindowFixture, OpensShownWithTheArrowCursor) {
    EXPECT_TRUE(IsWindowVisible(TestWindow));
    EXPECT_EQ(GetFocus(), TestWindow);
    EXPECT_EQ(win32::harness::cursor_name(GetCursor()), "arrow");
    char title[128];
    GetWindowTextA(TestWindow, title, sizeof title);
    EXPECT_STREQ(title, "Kavix TV Adjustment");
}

TEST_F(TestWindowFixture, KeysAreReadInOrderOnePerCall) {
    win32::testing::press_key('A');
    win32::testing::press_key('B');
    win32::testing::press_key(VK_RETURN);
    std::vector<int> got;
    while (KeyAvailable())
        got.push_back(GetKey());
    EXPECT_EQ(got, (std::vector<int>{'A', 'B', VK_RETURN}));
}

TEST_F(TestWindowFixture, ShiftIsQueuedAndKeptWhileHeld) {
    win32::harness::inject_key(VK_SHIFT, true);
    win32::testing::press_key('R');
    ASSERT_TRUE(KeyAvailable());
    EXPECT_EQ(GetKey(), VK_SHIFT);
    EXPECT_EQ(ShiftDown, 1);
    EXPECT_EQ(GetKey(), 'R') << "the same letter code with Shift";
    win32::harness::inject_key(VK_SHIFT, false);
    EXPECT_FALSE(KeyAvailable()) << "releasing Shift queues nothing";
    EXPECT_EQ(ShiftDown, 0);
}

TEST_F(TestWindowFixture, SystemKeysAreNotQueued) {
    win32::testing::press_key(VK_F10);
    win32::harness::inject_key(VK_MENU, true);
    win32::testing::press_key('X');
    win32::harness::inject_key(VK_MENU, false);
    EXPECT_FALSE(KeyAvailable());
}

TEST_F(TestWindowFixture, PunctuationComesBackNegative) {
    win32::testing::press_key(VK_OEM_1);
    ASSERT_TRUE(KeyAvailable());
    EXPECT_EQ(GetKey(), -70);
}

TEST_F(TestWindowFixture, FullQueueKeepsItsUnreadKeys) {
    for (int i = 0; i < 300; ++i)
        PushKey(0x30 + i % 10);
    int read = 0;
    while (KeyAvailable() && read < 400) {
        EXPECT_EQ(GetKey(), 0x30 + read % 10);
        ++read;
    }
    EXPECT_EQ(read, 255);
}

TEST_F(TestWindowFixture, AvailableDrainsMessagesAndReportsNoKey) {
    static int seen = 0;
    seen = 0;
    WNDCLASSA wc{};
    wc.lpszClassName = "Listener";
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_USER)
            ++seen;
        return DefWindowProcA(h, m, w, l);
    };
    RegisterClassA(&wc);
    HWND other = CreateWindowExA(0, "Listener", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
    PostMessageA(other, WM_USER, 0, 0);
    PostMessageA(other, WM_USER, 0, 0);
    EXPECT_EQ(KeyAvailable(), 0);
    EXPECT_EQ(seen, 2);
}

TEST_F(TestWindowFixture, ClosingBroadcastsTheModesMessageThenExitsZero) {
    for (int mode : {0, 1, 2}) {
        TestMode = mode;
        const char* expected =
            mode == 0 ? KVXPS_TV_APPLICATION_CLOSED : KVXPS_GAMMA_APPLICATION_CLOSED;
        EXPECT_EXIT(
            {
                platform::add_event_sink([](const platform::Event& e) {
                    if (e.kind == platform::EventKind::Broadcast)
                        fprintf(stderr, "broadcast [%s] %llu %lld\n", e.name.c_str(),
                                (unsigned long long)e.wparam, (long long)e.lparam);
                });
                PostMessageA(TestWindow, WM_CLOSE, 0, 0);
                KeyAvailable();
            },
            testing::ExitedWithCode(0), std::string("broadcast \\[") + expected + "\\] 0 0");
    }
}

TEST_F(TestWindowFixture, PropertySheetClosedEndsTheProcessSilently) {
    EXPECT_EXIT({ SendMessageA(HWND_BROADCAST, RegisterWindowMessageA(KVXPS_SHEET_CLOSED), 0, 0); },
                testing::ExitedWithCode(0), "");
}

TEST_F(TestWindowFixture, CursorOverTheFrameStaysTheArrow) {
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    SendMessageA(TestWindow, WM_SETCURSOR, WPARAM(TestWindow), MAKELPARAM(HTCAPTION, WM_MOUSEMOVE));
    EXPECT_EQ(win32::harness::cursor_name(GetCursor()), "arrow");
}

} // namespace

// ---- the board told of moves and resizes --------------------------------------------------

namespace {

class BoardControl : public testing::Test {
protected:
    void SetUp() override {
        win32::testing::reset();
        ResizeOk = 1;
        m_sink = platform::add_event_sink([this](const platform::Event& e) {
            if (e.kind == platform::EventKind::Box)
                m_boxes.push_back(e.caption + "|" + e.text);
        });
    }
    void TearDown() override {
        platform::remove_event_sink(m_sink);
        unsetenv("WINTEST_REFUSE_RESIZE");
        unsetenv("WINTEST_REFUSE_MOVE");
    }

    std::vector<std::string> m_boxes;
    int m_sink = 0;
};

TEST_F(BoardControl, CreationReachesTheBoardBeforeAnyTestOpensIt) {
    ASSERT_TRUE(CreateTestWindow("Kavix Glide Test", nullptr, "missing.bmp"));
    EXPECT_TRUE(m_boxes.empty()) << "a closed board accepts every change";
    EXPECT_EQ(ResizeOk, 1);
}

TEST_F(BoardControl, RefusedResizeShowsTheBoxOncePerRefusal) {
    setenv("WINTEST_REFUSE_RESIZE", "always", 1);
    ASSERT_TRUE(CreateTestWindow("Kavix Glide Test", nullptr, "missing.bmp"));
    const std::string box =
        "Allocation Failure|Resize failed due to lack of sufficient buffer memory.\n";
    ASSERT_EQ(m_boxes, std::vector<std::string>{box}) << "one WM_SIZE at creation";
    EXPECT_EQ(ResizeOk, 0);
    unsetenv("WINTEST_REFUSE_RESIZE");
    SendMessageA(TestWindow, WM_SIZE, SIZE_RESTORED, MAKELPARAM(200, 100));
    EXPECT_EQ(ResizeOk, 1) << "an accepted resize sets the flag again";
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(BoardControl, SecondRefusalShowsASecondBoxWhoseLoopRunsThePendingClose) {
    setenv("WINTEST_REFUSE_RESIZE", "always", 1);
    TestMode = 2;
    EXPECT_EXIT(
        {
            platform::add_event_sink([](const platform::Event& e) {
                static int boxes = 0;
                if (e.kind == platform::EventKind::Box)
                    fprintf(stderr, "box %d\n", ++boxes);
            });
            CreateTestWindow("Kavix Glide Test", nullptr, "missing.bmp");
            SendMessageA(TestWindow, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
        },
        testing::ExitedWithCode(0), "box 2");
}

TEST_F(BoardControl, RefusedMoveClosesTheWindowWithoutABox) {
    setenv("WINTEST_REFUSE_MOVE", "always", 1);
    TestMode = 2;
    EXPECT_EXIT(
        {
            platform::add_event_sink([](const platform::Event& e) {
                if (e.kind == platform::EventKind::Broadcast)
                    fprintf(stderr, "broadcast [%s]\n", e.name.c_str());
                if (e.kind == platform::EventKind::Box)
                    fprintf(stderr, "box\n");
            });
            CreateTestWindow("Kavix Glide Test", nullptr, "missing.bmp");
            KeyAvailable(); // the posted WM_CLOSE takes effect at the next pump
            fprintf(stderr, "still running\n");
        },
        testing::ExitedWithCode(0), "^broadcast \\[KVXPS Test Gamma Application Closed\\]\n$");
}

} // namespace
