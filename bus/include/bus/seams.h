// What the layers above the desktop bus provide to it, and what the board hands the display
// through it. The bus links only the platform; the window manager, the display and the board
// register a table here when their code is part of the process, the way a window system
// reaches its display driver through a table rather than a link. A table not registered is a
// part the process does not have: its requests are answered "no such ..." and nothing is shown.
//
// Tables are registered once, before the process's threads use them, and never removed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/image.h"
#include "platform/result.h"
#include "win32/desktop.h"

namespace bus {

// The window manager of this process. Calls marked "GUI thread" run on the thread that owns
// the windows; the others may come from any thread.
class WindowSystem {
public:
    // Any thread: runs `work` on the GUI thread at its next message retrieval or wait.
    virtual void run_on_gui_thread(std::function<void()> work) = 0;
    // GUI thread: runs the work queued by run_on_gui_thread so far.
    virtual void run_queued_work() = 0;
    // The number this process gives a registered message's name, registering it if new.
    virtual UINT register_message(const std::string& name) = 0;
    // The name of a registered message, "" for any other number.
    virtual std::string message_name(UINT message) = 0;

    // GUI thread: whether the handle names a live window of this process.
    virtual bool is_window(HWND hwnd) = 0;
    // GUI thread: the top-level windows in creation order.
    virtual std::vector<win32::desktop::WindowInfo> top_level_windows() = 0;
    // GUI thread: calls every top-level window's procedure with the message.
    virtual void deliver_to_top_level(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // GUI thread: keyboard input as real input; false when the window does not exist.
    virtual bool inject_key(HWND hwnd, UINT vk, bool down) = 0;
    // GUI thread: what a user or the window manager does to a window.
    virtual platform::Status window_action(HWND hwnd, win32::desktop::WindowCommand action, int x,
                                           int y) = 0;
    // GUI thread: the client area as last painted; empty when there is no such window.
    virtual platform::Image window_picture(HWND hwnd) = 0;

protected:
    ~WindowSystem() = default;
};

// The board of this process: what it shows and how many frames it has shown.
class BoardSource {
public:
    virtual platform::Image screen_picture() = 0; // empty when the board shows nothing
    // Both fields of a frame of the TV view (field -1), or field n alone.
    virtual platform::Image tv_picture(int64_t field) = 0;
    virtual uint64_t frame_count() = 0;

protected:
    ~BoardSource() = default;
};

// The display: the picture the board's monitor shows and the one a TV set on its TV output
// shows, handed over at the retrace that shows them. wants_*() costs nothing, so the board
// asks before it builds a picture.
class BoardDisplay {
public:
    virtual bool wants_screen() = 0;
    virtual bool wants_tv() = 0;
    virtual void show_screen(const platform::Image& screen) = 0;
    // The TV set's picture during field n (0, 1, 2, ... in the order a set scans them): a
    // window shows the fields one after the other, `field_rate` a second, asking for each as
    // it comes.
    using TvFields = std::function<platform::Image(int64_t field)>;
    virtual void show_tv(TvFields fields, double field_rate) = 0;
    virtual void closed() = 0; // the board was shut down: its pictures go away

protected:
    ~BoardDisplay() = default;
};

void register_window_system(WindowSystem* table);
void register_board(BoardSource* table);
void register_board_display(BoardDisplay* table);

[[nodiscard]] WindowSystem* window_system();
[[nodiscard]] BoardSource* board();
[[nodiscard]] BoardDisplay* board_display();

} // namespace bus
