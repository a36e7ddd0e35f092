// The window manager against documented Win32 behaviour.
#include <gtest/gtest.h>
#include "sheet_messages.h"

#include <windows.h>

#include "platform/events.h"
#include "win32/harness.h"
#include "win32/testing.h"
#include "test_support.h"

#include <string>
#include <vector>

namespace {

std::vector<MSG> g_seen; // messages received by RecordingProc, in order

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    g_seen.push_back({hwnd, msg, wParam, lParam, 0, {}});
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class User : public testing::Test {
protected:
    void SetUp() override {
        win32::testing::reset();
        g_seen.clear();
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "TestClass";
        wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
        ASSERT_NE(RegisterClassA(&wc), 0);
    }

    HWND popup(DWORD extra = 0, int w = 200, int h = 100) {
        return CreateWindowExA(0, "TestClass", "t", WS_POPUP | WS_CAPTION | WS_THICKFRAME | extra,
                               CW_USEDEFAULT, CW_USEDEFAULT, w, h, nullptr, nullptr, nullptr,
                               nullptr);
    }

    std::vector<UINT> messages_of(HWND hwnd) {
        std::vector<UINT> out;
        for (auto& m : g_seen)
            if (m.hwnd == hwnd)
                out.push_back(m.message);
        return out;
    }

    bool saw(UINT message) {
        for (auto& m : g_seen)
            if (m.message == message)
                return true;
        return false;
    }
};

TEST_F(User, CreationSendsSizeAndMoveBeforeReturning) {
    HWND hwnd = popup();
    ASSERT_NE(hwnd, nullptr);
    auto seen = messages_of(hwnd);
    std::vector<UINT> first(seen.begin(), seen.begin() + 4);
    EXPECT_EQ(first, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE}));
    RECT r;
    GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.left, 0) << "a CW_USEDEFAULT popup starts at the screen's corner";
    EXPECT_EQ(r.top, 0);
}

TEST_F(User, RegisteringAnExistingClassFails) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "testclass";
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));
}

TEST_F(User, AdjustWindowRectMatchesTheClientArea) {
    DWORD style = WS_POPUP | WS_CAPTION | WS_THICKFRAME;
    RECT r{0, 0, 100, 50};
    AdjustWindowRect(&r, style, FALSE);
    EXPECT_EQ(r.right - r.left, 100 + 2 * GetSystemMetrics(SM_CXFRAME));
    EXPECT_EQ(r.bottom - r.top,
              50 + 2 * GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION));
    HWND hwnd = popup(0, r.right - r.left, r.bottom - r.top);
    RECT c;
    GetClientRect(hwnd, &c);
    EXPECT_EQ(c.right, 100);
    EXPECT_EQ(c.bottom, 50);
}

TEST_F(User, ResizingSendsSizeButNotMoveWhenPlaceKept) {
    HWND hwnd = popup();
    g_seen.clear();
    SetWindowPos(hwnd, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(saw(WM_SIZE));
    EXPECT_FALSE(saw(WM_MOVE));
    g_seen.clear();
    SetWindowPos(hwnd, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_FALSE(saw(WM_SIZE)) << "an unchanged size sends no WM_SIZE";
}

TEST_F(User, ScrollBarAppearsWithARangeAndTakesClientRoom) {
    HWND hwnd = popup();
    RECT before, after;
    GetClientRect(hwnd, &before);
    g_seen.clear();
    SetScrollRange(hwnd, SB_VERT, 0, 120, TRUE);
    GetClientRect(hwnd, &after);
    EXPECT_TRUE(GetWindowLongA(hwnd, GWL_STYLE) & WS_VSCROLL);
    EXPECT_EQ(after.right, before.right - GetSystemMetrics(SM_CXVSCROLL));
    EXPECT_TRUE(saw(WM_SIZE));
    SetScrollPos(hwnd, SB_VERT, 500, TRUE);
    EXPECT_EQ(GetScrollPos(hwnd, SB_VERT), 120) << "positions stay inside the range";
    SetScrollRange(hwnd, SB_VERT, 0, 0, TRUE);
    EXPECT_FALSE(GetWindowLongA(hwnd, GWL_STYLE) & WS_VSCROLL);
}

TEST_F(User, PeekWithoutRemoveLeavesTheMessage) {
    HWND hwnd = popup();
    PostMessageA(hwnd, WM_USER + 1, 7, 8);
    MSG m;
    while (PeekMessageA(&m, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE))
        DispatchMessageA(&m);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 1, WM_USER + 1, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 1, WM_USER + 1, PM_REMOVE));
    EXPECT_EQ(m.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_USER + 1, WM_USER + 1, PM_REMOVE));
}

TEST_F(User, GetMessageReturnsZeroForQuit) {
    PostQuitMessage(3);
    MSG m;
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    EXPECT_EQ(m.wParam, 3u);
}

TEST_F(User, PostedMessagesComeBeforeInput) {
    HWND hwnd = popup(WS_VISIBLE);
    win32::harness::inject_key('A', true);
    PostMessageA(hwnd, WM_USER, 0, 0);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_USER));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_KEYDOWN));
}

TEST_F(User, RegisteredNamesGiveOneNumberIgnoringCase) {
    UINT a = RegisterWindowMessageA(KVXPS_SHEET_CLOSED);
    EXPECT_GE(a, 0xC000u);
    EXPECT_EQ(RegisterWindowMessageA("kvxps property sheet closed"), a);
    EXPECT_NE(RegisterWindowMessageA("Another"), a);
}

TEST_F(User, BroadcastReachesHiddenTopLevelWindowsAndIsReported) {
    HWND shown = popup(WS_VISIBLE);
    HWND hidden = popup();
    UINT msg = RegisterWindowMessageA("Hello");
    test_support::EventRecorder recorder;
    g_seen.clear();
    SendMessageA(HWND_BROADCAST, msg, 5, 6);
    EXPECT_EQ(messages_of(shown), std::vector<UINT>{msg});
    EXPECT_EQ(messages_of(hidden), std::vector<UINT>{msg});
    const auto& events = recorder.all();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "Hello");
    EXPECT_EQ(events[0].wparam, 5u);
    EXPECT_EQ(events[0].lparam, 6);
}

TEST_F(User, SendIsSynchronousAndReentrant) {
    static int depth = 0, deepest = 0;
    WNDCLASSA wc{};
    wc.lpszClassName = "Nest";
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_USER) {
            ++depth;
            deepest = std::max(deepest, depth);
            if (w > 0)
                SendMessageA(h, WM_USER, w - 1, 0);
            --depth;
            return 42;
        }
        return DefWindowProcA(h, m, w, l);
    };
    RegisterClassA(&wc);
    HWND hwnd =
        CreateWindowExA(0, "Nest", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 3, 0), 42);
    EXPECT_EQ(deepest, 4);
}

TEST_F(User, InjectedKeysArriveAsRealInput) {
    HWND hwnd = popup(WS_VISIBLE);
    win32::harness::inject_key(VK_SHIFT, true);
    win32::harness::inject_key('R', true);
    win32::harness::inject_key('R', true); // auto-repeat
    EXPECT_EQ(GetKeyState(VK_SHIFT) & 0x8000, 0) << "key state follows the queue, not the keyboard";
    MSG m;
    std::vector<MSG> got;
    while (PeekMessageA(&m, hwnd, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE))
        got.push_back(m);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].message, UINT(WM_KEYDOWN));
    EXPECT_EQ(got[1].wParam, WPARAM('R'));
    EXPECT_EQ(got[1].lParam & (1 << 30), 0) << "first press";
    EXPECT_NE(got[2].lParam & (1 << 30), 0) << "repeat keeps the previous-state bit";
    EXPECT_NE(GetKeyState(VK_SHIFT) & 0x8000, 0);
}

TEST_F(User, AltAndF10AreSystemKeys) {
    HWND hwnd = popup(WS_VISIBLE);
    win32::testing::press_key(VK_F10);
    win32::harness::inject_key(VK_MENU, true);
    win32::testing::press_key('X');
    win32::harness::inject_key(VK_MENU, false);
    MSG m;
    std::vector<UINT> got;
    while (PeekMessageA(&m, hwnd, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE))
        got.push_back(m.message);
    EXPECT_EQ(got, (std::vector<UINT>{WM_SYSKEYDOWN, WM_SYSKEYUP, WM_SYSKEYDOWN, WM_SYSKEYDOWN,
                                      WM_SYSKEYUP, WM_SYSKEYUP}));
}

TEST_F(User, MessageBoxIsReportedAndAnsweredWithItsDefault) {
    test_support::EventRecorder recorder;
    EXPECT_EQ(MessageBoxA(nullptr, "text", nullptr, MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    auto events = recorder.of(platform::EventKind::Box);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].caption, "Error");
    EXPECT_EQ(events[0].text, "text");
}

TEST_F(User, MessageBoxPumpsPendingMessages) {
    HWND hwnd = popup();
    PostMessageA(hwnd, WM_USER + 5, 0, 0);
    g_seen.clear();
    MessageBoxA(hwnd, "x", "y", MB_OK);
    EXPECT_TRUE(saw(WM_USER + 5));
}

TEST_F(User, PaintComesWhenNothingElseIsWaitingAndValidates) {
    HWND hwnd = popup(WS_VISIBLE);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_PAINT));
    DispatchMessageA(&m); // DefWindowProcA paints and validates
    EXPECT_FALSE(PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE));
}

} // namespace
