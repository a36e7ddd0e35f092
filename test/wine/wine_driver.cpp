// wine_driver: drives one run of the Windows build under Wine from a small script, through the
// Windows desktop controller of the property sheet stand-in, and prints what it saw. Used by
// wine_case.sh for the checks that need a controller.
//
//   wine_driver SCRIPT
//
// Script lines (the program's window is the first window of class WinGlideClass):
//   env NAME=value           added to the environment of the next start
//   start EXE TAIL           TAIL: every byte after the one space that follows EXE
//   window [MS]              waits for the program's window; prints its rectangles
//   key VK down|up|press     keyboard input into the program's window (VK decimal or 0x..)
//   close | move X Y | resize W H | display W H
//   picture PNG              the program's window's client area
//   board screen|tv|state FILE
//   send NAME WPARAM LPARAM  broadcasts a registered message
//   answer                   answers the program's message boxes with their default button
//   pump MS                  serves messages for MS milliseconds
//   exit MS                  waits for the program's end; prints its exit code
//   metrics                  prints this system's window metrics and AdjustWindowRect results
//   use N                    the program of the Nth start becomes the one driven (from 1)
//   fit W H                  prints the outer size that a W x H bitmap gives the program's
//                            window (AdjustWindowRect on this system's metrics, style
//                            WS_THICKFRAME, with menu, plus one) beside the window's size
// At the end every event is printed, one a line: "event KIND PID ...", with a line feed in a
// text written as \n.
#include "desktop_win32.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

using namespace propsheet::win;

namespace {

const char* const k_names[] = {
    "KVXPS Test TV Underscan Overscan",
    "KVXPS Test TV Application Closed",
    "KVXPS Test Gamma Application Closed",
    "KVXPS Property Sheet Closed",
    "KVXPS Glide Gamma Correction Changed",
    "KVXPS Glide Gamma Correction Enable",
    "KVXPS Glide Gamma Correction Default",
    "KVXPS Property Sheet Gamma Correction Changed",
    "KVXPS Property Sheet Gamma Correction Enable",
};

constexpr char k_test_window_class[] = "WinGlideClass";

struct Run {
    Desktop desktop;
    std::vector<std::string> env;
    std::vector<DWORD> started;
    DWORD pid{0};
    HWND window{nullptr};
    int failures{0};
};

void fail(Run& run, const std::string& what) {
    std::printf("error %s\n", what.c_str());
    ++run.failures;
}

std::string rect_text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

bool find_window(Run& run, int ms) {
    auto info = run.desktop.wait_window(run.pid, k_test_window_class, ms);
    if (!info)
        return false;
    run.window = info->hwnd;
    std::printf("window %s|%s|%d window=%s client=%s\n", info->class_name.c_str(),
                info->title.c_str(), info->visible ? 1 : 0, rect_text(info->window).c_str(),
                rect_text(info->client).c_str());
    return true;
}

// start EXE TAIL: the tail is every byte after the program's name and one space.
void start(Run& run, std::istringstream& in, const std::string& line) {
    std::string exe;
    in >> exe;
    size_t tail_at = 6 + exe.size() + 1;
    std::string tail = line.size() > tail_at ? line.substr(tail_at) : "";
    auto started = run.desktop.start_program(exe, tail, run.env);
    run.pid = started ? *started : 0;
    run.window = nullptr;
    run.started.push_back(run.pid);
    if (!started)
        fail(run, started.message());
}

// The metrics that window geometry rests on, and what AdjustWindowRect makes of them.
void print_metrics() {
    std::printf("metrics caption=%d menu=%d border=%d dlgframe=%d frame=%d padded=%d "
                "vscroll=%d screen=%dx%d\n",
                GetSystemMetrics(SM_CYCAPTION), GetSystemMetrics(SM_CYMENU),
                GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CXDLGFRAME),
                GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CXPADDEDBORDER),
                GetSystemMetrics(SM_CXVSCROLL), GetSystemMetrics(SM_CXSCREEN),
                GetSystemMetrics(SM_CYSCREEN));
    const DWORD styles[] = {WS_THICKFRAME, WS_CAPTION | WS_THICKFRAME, WS_CAPTION, WS_BORDER,
                            WS_DLGFRAME};
    for (DWORD style : styles) {
        RECT r{0, 0, 100, 100};
        AdjustWindowRect(&r, style, FALSE);
        std::printf("adjust style=%#lx rect=%s\n", static_cast<unsigned long>(style),
                    rect_text(r).c_str());
    }
}

// fit W H: the window's outer size against the one that fits a W x H client area.
void print_fit(Run& run, std::istringstream& in) {
    int width = 0, height = 0;
    in >> width >> height;
    RECT expected{0, 0, width, height};
    AdjustWindowRect(&expected, WS_THICKFRAME, TRUE);
    RECT actual{};
    GetWindowRect(run.window, &actual);
    std::printf("fit expected=%ldx%ld actual=%ldx%ld\n", long(expected.right - expected.left + 1),
                long(expected.bottom - expected.top + 1), long(actual.right - actual.left),
                long(actual.bottom - actual.top));
}

// send NAME WPARAM LPARAM: a broadcast of the registered message NAME.
void send_broadcast(Run& run, const std::string& line) {
    // NAME may hold spaces: the last two words are the parameters.
    std::string rest = line.substr(5);
    size_t second = rest.rfind(' ');
    size_t first = rest.rfind(' ', second - 1);
    std::string name = rest.substr(0, first);
    WPARAM wparam = WPARAM(std::strtoull(rest.substr(first + 1).c_str(), nullptr, 0));
    LPARAM lparam = LPARAM(std::strtoll(rest.substr(second + 1).c_str(), nullptr, 0));
    if (!run.desktop.broadcast(name, wparam, lparam))
        std::printf("note broadcast %s: some window did not answer\n", name.c_str());
}

void do_line(Run& run, const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "env") {
        run.env.push_back(line.substr(4));
    } else if (word == "start") {
        start(run, in, line);
    } else if (word == "use") {
        size_t n = 0;
        in >> n;
        if (n < 1 || n > run.started.size())
            fail(run, "use: no such start");
        else
            run.pid = run.started[n - 1];
        auto info = run.desktop.wait_window(run.pid, k_test_window_class, 0);
        run.window = info ? info->hwnd : nullptr;
    } else if (word == "metrics") {
        print_metrics();
    } else if (word == "fit") {
        print_fit(run, in);
    } else if (word == "window") {
        int ms = 20000;
        in >> ms;
        if (!find_window(run, ms))
            fail(run, "no program window");
    } else if (word == "key") {
        std::string vk_text, how;
        in >> vk_text >> how;
        UINT vk = UINT(std::strtoul(vk_text.c_str(), nullptr, 0));
        std::optional<std::string> why; // the last stroke that failed
        for (bool down : {true, false})
            if (how != (down ? "up" : "down"))
                if (auto pressed = run.desktop.inject_key(run.window, vk, down); !pressed)
                    why = pressed.message();
        if (why)
            fail(run, "key: " + *why);
    } else if (word == "close" || word == "move" || word == "resize" || word == "display") {
        int x = 0, y = 0;
        in >> x >> y;
        WindowCommand command = word == "close"    ? WindowCommand::Close
                                : word == "move"   ? WindowCommand::Move
                                : word == "resize" ? WindowCommand::Resize
                                                   : WindowCommand::DisplayChange;
        if (auto done = run.desktop.window_command(run.window, command, x, y); !done)
            fail(run, word + ": " + done.message());
    } else if (word == "picture") {
        std::string path;
        in >> path;
        if (auto written = run.desktop.window_picture(run.window, path); !written)
            fail(run, "picture: " + written.message());
    } else if (word == "board") {
        std::string what, path;
        in >> what >> path;
        if (auto written = run.desktop.board_request(what, path); !written)
            fail(run, "board: " + written.message());
    } else if (word == "send") {
        send_broadcast(run, line);
    } else if (word == "answer") {
        run.desktop.answer_message_boxes(run.pid);
    } else if (word == "pump") {
        int ms = 0;
        in >> ms;
        run.desktop.pump(ms);
    } else if (word == "exit") {
        int ms = 20000;
        in >> ms;
        auto code = run.desktop.wait_exit(run.pid, ms);
        if (code)
            std::printf("exit %d\n", *code);
        else
            fail(run, "the program did not end");
    } else if (!word.empty() && word[0] != '#') {
        fail(run, "unknown script line: " + line);
    }
    std::fflush(stdout);
}

// A text on one line: line feeds as \n, carriage returns as \r.
std::string one_line(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return out;
}

void print_events(Run& run) {
    for (const Event& e : run.desktop.events()) {
        std::printf("event %s %lu", event_kind_name(e.kind), static_cast<unsigned long>(e.pid));
        switch (e.kind) {
        case EventKind::Broadcast:
            std::printf(" %s|%llu|%lld", e.name.c_str(), static_cast<unsigned long long>(e.wparam),
                        static_cast<long long>(e.lparam));
            break;
        case EventKind::Window:
            std::printf(" %s|%s", e.name.c_str(), e.text.c_str());
            break;
        case EventKind::Box:
            std::printf(" %s|%s", e.caption.c_str(), one_line(e.text).c_str());
            break;
        case EventKind::Debug:
            std::printf(" %s", one_line(e.text).c_str());
            break;
        case EventKind::Beep:
        case EventKind::Exit:
            std::printf(" %d", e.code);
            break;
        case EventKind::Registry:
            std::printf(" %s|%s", e.name.c_str(), one_line(e.text).c_str());
            break;
        case EventKind::Gamma:
            std::printf(" %.2f %.2f %.2f", double(e.gamma[0]), double(e.gamma[1]),
                        double(e.gamma[2]));
            break;
        case EventKind::Tv:
            for (int32_t field : e.tv)
                std::printf(" %ld", static_cast<long>(field));
            break;
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wine_driver SCRIPT\n");
        return 2;
    }
    std::ifstream script(argv[1], std::ios::binary);
    if (!script) {
        std::fprintf(stderr, "wine_driver: cannot read %s\n", argv[1]);
        return 2;
    }
    Run run;
    if (auto heard = run.desktop.listen({std::begin(k_names), std::end(k_names)}); !heard) {
        std::fprintf(stderr, "wine_driver: %s\n", heard.message().c_str());
        return 2;
    }
    std::string line;
    while (std::getline(script, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        do_line(run, line);
    }
    run.desktop.pump(200);
    print_events(run);
    return run.failures ? 1 : 0;
}
