// The desktop as a controlling process sees it on Windows: it starts a program with an exact
// command-line tail, watches its top-level windows, message boxes, registered broadcasts,
// debug strings and exit code, puts keyboard input into its windows, does what a user or
// the window manager does to them, and takes pictures of them and of the board's screen.
//
// Everything is plain Win32: the program runs under this process as its debugger (debug
// strings and the exit code arrive as debug events), broadcasts reach a hidden top-level
// window of this process, windows and message boxes are found by enumerating the desktop's
// top-level windows, and the board answers WM_COPYDATA requests (board/src/win/
// screen_protocol.h). Calls are made from one thread, the one that owns the hidden window;
// pump() must run often, since a program's broadcast waits until this process answers.
#pragma once

#include <windows.h>

#include "platform/events.h"
#include "platform/result.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace propsheet::win {

// The platform's events as the desktop heard them: pid and program filled in (the started
// program's events are the program's, this process's own broadcasts the sheet's), and when.
struct Event : platform::Event {
    uint64_t time_us{0}; // when it was recorded, on the monotonic clock (steady_clock)
};
using platform::EventKind;

struct WindowInfo {
    DWORD pid{0};
    HWND hwnd{nullptr};
    std::string class_name;
    std::string title;
    bool visible{false};
    RECT window{}; // screen coordinates
    RECT client{}; // screen coordinates
};

enum class WindowCommand { Close, Move, Resize, DisplayChange };

class Desktop {
public:
    Desktop();
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Makes the hidden window that hears the broadcasts of these registered names.
    platform::Status listen(const std::vector<std::string>& names);

    // Starts the program: the command line is the quoted path, one space and the tail exactly
    // as given; extra_env entries ("NAME=value") are added to this process's environment.
    // Returns the process id.
    platform::Result<DWORD> start_program(const std::string& path, const std::string& tail,
                                          const std::vector<std::string>& extra_env);

    // Serves this process's messages and looks at the desktop for about `ms` milliseconds.
    void pump(int ms);

    // Copies of the events so far, in order.
    [[nodiscard]] std::vector<Event> events();

    // Pumps until the program has ended or `ms` passed; its exit event's code, if any.
    std::optional<int> wait_exit(DWORD pid, int ms);

    // The top-level windows of a process (0: of every process but this one).
    [[nodiscard]] std::vector<WindowInfo> windows(DWORD pid);
    // Pumps until the process has a window of that class, or `ms` passed.
    std::optional<WindowInfo> wait_window(DWORD pid, const std::string& class_name, int ms);

    // Keyboard input into a window; see desktop_win32.cpp for how it is delivered.
    platform::Status inject_key(HWND window, UINT vk, bool down);
    // Several key strokes (code, down) in one SendInput call, so that they reach the program's
    // queue together; posted one after the other when the window cannot take the foreground.
    platform::Status inject_keys(HWND window, const std::vector<std::pair<UINT, bool>>& strokes);
    platform::Status window_command(HWND window, WindowCommand command, int x, int y);

    // The client area of a window, as PrintWindow draws it, as a PNG file.
    platform::Status window_picture(HWND window, const std::string& png_path);
    // A request to the board's screen window (what: screen, tv or state).
    platform::Status board_request(const std::string& what, const std::string& path);

    // Sends a registered message to every top-level window and records it as an event of this
    // process; false when some window did not answer in time.
    bool broadcast(const std::string& name, WPARAM wparam, LPARAM lparam);

    // Answers the message boxes of a process with their default button (Enter).
    void answer_message_boxes(DWORD pid);

    // Ends a started program at once.
    void kill(DWORD pid);

private:
    struct Program;
    static LRESULT CALLBACK listener_proc(HWND, UINT, WPARAM, LPARAM);
    void record(Event event);
    bool board_event(const COPYDATASTRUCT* data);
    void look_at_windows();
    Program* find_program(DWORD pid);

    HWND m_listener{nullptr};
    std::vector<std::pair<UINT, std::string>> m_names;
    UINT m_own_message{0}; // the message this process is broadcasting, not recorded twice
    std::vector<std::unique_ptr<Program>> m_programs;
    std::vector<HWND> m_seen_windows;
    std::mutex m_mutex; // guards m_events: debug threads add to it
    std::vector<Event> m_events;
};

} // namespace propsheet::win
