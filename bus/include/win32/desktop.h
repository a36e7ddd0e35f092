// The desktop bus as a controlling process sees it: the processes of the prefix's desktop,
// their windows, input and window-manager actions sent into them, pictures taken of them,
// and the events they report.
//
// Every process with top-level windows joins the desktop of its prefix on its own; a
// controller joins first (as an observer, so that it hears every event from a program's
// first window on) and then starts the program. Calls that ask another process wait at most
// timeout_ms() for it, and serve the messages sent to this process while they wait. They are
// made from the thread that owns this process's windows; on_event handlers run on the bus's
// receiver thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/events.h"
#include "platform/result.h"

namespace win32::desktop {

using WindowId = uint64_t; // a window handle of another process, as a number

struct Process {
    int pid{0};
    bool observer{false};
};

struct WindowInfo {
    int pid{0};
    WindowId hwnd{0};
    std::string class_name;
    std::string title;
    bool visible{false};
    RECT window{}; // screen coordinates
    RECT client{}; // screen coordinates
    DWORD style{0};
    DWORD ex_style{0};
    bool focus{false}; // the window has the keyboard focus
};

enum class WindowCommand : uint8_t {
    Close = 1,         // posts WM_CLOSE, as the close button does
    Move = 2,          // moves the window's top-left corner to (x, y)
    Resize = 3,        // gives the window the outer size (x, y)
    DisplayChange = 4, // the display mode became x by y: WM_DISPLAYCHANGE to every window
};

enum class Picture : uint8_t {
    Window = 1,   // the client area of a window as last painted
    Screen = 2,   // the board's screen: the front buffer through the gamma tables
    Tv = 3,       // the board's TV view: both fields of a frame
    TvField0 = 4, // field 0 of the TV view alone (its lines; the others black)
    TvField1 = 5, // field 1 alone
};

struct Stats {
    uint64_t malformed{0};      // datagrams dropped as malformed
    uint64_t broadcasts_in{0};  // broadcasts received from other processes
    uint64_t broadcasts_out{0}; // broadcasts sent to other processes
    uint64_t peers_skipped{0};  // peers that did not answer within the bound
    uint64_t peers_dropped{0};  // peers found dead
};

// Joins the desktop now; an observer receives the events of every process on it. Joining
// again as an observer after a plain join is refused. False (with a reason on stderr) when
// the endpoint cannot be made.
bool join(bool observer);
[[nodiscard]] bool joined();

// The bound within which another process must answer (WINTEST_BUS_TIMEOUT_MS, default 2000).
[[nodiscard]] int timeout_ms();

// Receives every event of the processes on the desktop, this one's own included, each with
// its process's pid and short name. Exit events of started programs are made by the
// controller when it reaps them.
void on_event(std::function<void(const platform::Event&)> handler);

// Sleeps up to `ms` milliseconds, waking early when anything arrives for this process or
// another thread calls wake().
void wait(int ms);
void wake();

// The other processes on the desktop.
[[nodiscard]] std::vector<Process> processes();

// The top-level windows of one process (pid 0: of every other process).
// A process that does not answer is an error when asked for by pid and skipped for pid 0.
platform::Result<std::vector<WindowInfo>> windows(int pid);

// Keyboard input into a window as real input (see win32::harness::inject_key): a key-down of a
// key already down is an auto-repeat.
platform::Status inject_key(const WindowInfo& window, UINT vk, bool down);

// Several strokes (virtual-key code, down) into a window in one request: all are in the
// window's queue before the process retrieves any of them. At most 4096.
platform::Status inject_keys(const WindowInfo& window,
                             const std::vector<std::pair<UINT, bool>>& strokes);

platform::Status window_command(const WindowInfo& window, WindowCommand command, int x = 0,
                                int y = 0);

// Has the process write a PNG of the picture to `png_path`; `window` matters for
// Picture::Window only.
platform::Status picture(int pid, Picture which, WindowId window, const std::string& png_path);

// The number of frames the process's board has shown. A reply too short to read is an error
// with an empty message.
platform::Result<uint64_t> frame_count(int pid);

platform::Result<Stats> stats(int pid);

// Starts a program with an exact command-line tail (every byte as given; see
// win32/startup.h) and extra environment; returns its pid. Its end arrives as an Exit event
// after every event it sent. Requires join().
platform::Result<int> start_program(const std::string& path, const std::string& command_line,
                                    const std::vector<std::string>& extra_env);

} // namespace win32::desktop
