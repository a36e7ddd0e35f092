// wintest_probe: the program with a window into it, for the display tests.
//
//   wintest_probe WORDS...        runs WinMain with the words as its command line
//   wintest_probe --shell TITLE [BITMAP]
//                                 opens the test window and runs a test's frame loop on the
//                                 board (60 frames a second, one key taken a frame) for ever
//
// It prints what happens, one line each, on stdout:
//   ready <display>               the test window exists and the frame loop runs
//   event <kind> <name|caption> | <text> | <wparam> <lparam>   (line breaks as \\n)
//   key <signed code> frame <n> t <monotonic ns>
// and obeys commands on stdin, run on the GUI thread at its next message retrieval:
//   snap DIR                      writes DIR/window.png (the test window's client area) and,
//                                 once the board shows a picture, DIR/screen.png, DIR/tv.png
//                                 and DIR/tv-field-N.png, what the TV window shows during
//                                 field N, for each field of the subcarrier's sequence
//   key VK down|up|press          keyboard input into the focus window (headless runs)
//   size W H                      resizes the test window's client area as a user would
//   rect                          prints "rect <client x> <client y> <client w> <client h>"
//   ping                          prints "pong" (shows that messages are being pumped)
//   sheet W L NAME                broadcasts the registered message NAME (the property sheet)
//   frames                        prints "frames <buffer swaps since the board opened>"
//   beep                          MessageBeep, then prints "beeped <microseconds>"
//   box TYPE CAPTION|TEXT         MessageBoxA over the test window, then "answer <button>"
#include <windows.h>
#include "sheet_messages.h"

#include "board_harness.h"
#include "glide.h"
#include "shell.h"

#include "platform/events.h"
#include "platform/image.h"
#include "win32/harness.h"
#include "win32/testing.h"

#include "display.h"
#include "user.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace {

long long monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

void say(const std::string& line) {
    fputs((line + "\n").c_str(), stdout);
    fflush(stdout);
}

// Line breaks in texts are written as \n, so that an event stays one line.
std::string one_line(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

void print_event(const platform::Event& e) {
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%llu %lld", (unsigned long long)e.wparam,
             (long long)e.lparam);
    std::string head = e.kind == platform::EventKind::Box ? e.caption : e.name;
    say(std::string("event ") + platform::event_kind_name(e.kind) + " " + head + " | " +
        one_line(e.text) + " | " + numbers);
}

void snap(const std::string& dir) {
    HWND window = TestWindow ? TestWindow : FindWindowA("WinGlideClass", nullptr);
    bool ok = window &&
              platform::write_png(dir + "/window.png", win32::harness::window_image(window)).ok();
    if (board::frame_count() > 0) {
        ok = platform::write_png(dir + "/screen.png", board::screen_image()).ok() && ok;
        ok = platform::write_png(dir + "/tv.png", board::tv_image()).ok() && ok;
        board::TvRecord tv = board::tv_record();
        for (int n = 0; n < board::tv_standard(tv).colour_fields; ++n)
            ok = platform::write_png(dir + "/tv-field-" + std::to_string(n) + ".png",
                                     board::render_tv_window(board::screen_image(), tv, n)).ok() &&
                 ok;
    }
    say(ok ? "snapped " + dir : "snap failed");
}

void run_command(const std::string& line) {
    char word[32] = {}, arg[512] = {};
    int a = 0, b = 0, skip = 0;
    if (sscanf(line.c_str(), "snap %511s", arg) == 1) {
        snap(arg);
    } else if (sscanf(line.c_str(), "key %i %31s", &a, word) == 2) {
        if (!strcmp(word, "press"))
            win32::testing::press_key(UINT(a));
        else
            win32::harness::inject_key(UINT(a), !strcmp(word, "down"));
    } else if (sscanf(line.c_str(), "size %d %d", &a, &b) == 2) {
        RECT outer{0, 0, a, b};
        AdjustWindowRect(&outer, DWORD(GetWindowLongA(TestWindow, GWL_STYLE)), FALSE);
        SetWindowPos(TestWindow, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                     SWP_NOMOVE | SWP_NOZORDER);
    } else if (line == "rect") {
        RECT w{}, c{};
        GetWindowRect(TestWindow, &w);
        GetClientRect(TestWindow, &c);
        RECT adjust{0, 0, 0, 0};
        AdjustWindowRect(&adjust, DWORD(GetWindowLongA(TestWindow, GWL_STYLE)), FALSE);
        say("rect " + std::to_string(w.left - adjust.left) + " " +
            std::to_string(w.top - adjust.top) + " " + std::to_string(c.right) + " " +
            std::to_string(c.bottom));
    } else if (sscanf(line.c_str(), "box %i %n", &a, &b) == 1) {
        std::string rest = line.substr(size_t(b));
        size_t bar = rest.find('|');
        std::string caption = rest.substr(0, bar);
        std::string text = bar == std::string::npos ? "" : rest.substr(bar + 1);
        int answer = MessageBoxA(TestWindow, text.c_str(), caption.c_str(), UINT(a));
        say("answer " + std::to_string(answer));
    } else if (sscanf(line.c_str(), "sheet %i %i %n", &a, &b, &skip) == 2) {
        // What the property sheet sends: a registered message to every top-level window.
        SendMessageA(HWND_BROADCAST, RegisterWindowMessageA(line.c_str() + skip), WPARAM(a),
                     LPARAM(b));
    } else if (line == "frames") {
        say("frames " + std::to_string(board::frame_count()));
    } else if (line == "ping") {
        say("pong");
    } else if (line == "beep") {
        long long t0 = monotonic_ns();
        MessageBeep(0);
        say("beeped " + std::to_string((monotonic_ns() - t0) / 1000));
    }
}

// Commands arrive on another thread and run on the GUI thread as sent messages do.
void read_commands() {
    std::thread([] {
        std::string line;
        while (std::getline(std::cin, line))
            win32::User::the().send_from_outside([line] { run_command(line); });
    }).detach();
}

// A test's frame loop: the board shows a cleared frame at each retrace, then the keyboard is
// read the way the tests read it.
[[noreturn]] void run_shell(const char* title, const char* bitmap) {
    TestMode = 0;
    snprintf(WindowTitle, sizeof WindowTitle, "%s", title);
    TvApplicationClosedMessage = RegisterWindowMessageA(KVXPS_TV_APPLICATION_CLOSED);
    PropertySheetClosedMessage = RegisterWindowMessageA(KVXPS_SHEET_CLOSED);
    if (!CreateTestWindow(title, GetModuleHandleA(nullptr), bitmap)) {
        say("no window");
        exit(2);
    }
    grGlideInit();
    grSstSelect(0);
    if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                      GR_ORIGIN_UPPER_LEFT, 2, 1)) {
        say("board busy");
        exit(3);
    }
    say(std::string("ready ") + win32::display().name());
    auto next = std::chrono::steady_clock::now();
    for (long frame = 0;; ++frame) {
        grBufferClear(0x00203040, 0, 0);
        grBufferSwap(1);
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
        if (KeyAvailable()) {
            int code = GetKey();
            say("key " + std::to_string(code) + " frame " + std::to_string(frame) + " t " +
                std::to_string(monotonic_ns()));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    platform::add_event_sink(print_event);
    read_commands();
    if (argc >= 3 && !strcmp(argv[1], "--shell"))
        run_shell(argv[2], argc >= 4 ? argv[3] : "missing.bmp");

    // The program itself: "ready" once its test runs its first frame.
    win32::testing::set_idle_hook([](int count) {
        if (count == 0)
            say(std::string("ready ") + win32::display().name());
    });
    std::string tail;
    for (int i = 1; i < argc; ++i)
        tail += (i > 1 ? " " : "") + std::string(argv[i]);
    return WinMain(GetModuleHandleA(nullptr), nullptr, tail.data(), SW_SHOWNORMAL);
}
