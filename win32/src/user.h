// The window manager's core: window classes, windows and the thread's message queue.
//
// One process-wide instance (User::the()) holds every window of the process; the program has
// one GUI thread. Other threads (the desktop bus, a display backend) reach the queue only
// through post() and send_from_outside(), which are thread-safe.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/image.h"

namespace win32 {

namespace testing {
struct UserAccess;
}

struct WindowClass {
    std::string name;
    WNDCLASSA wc{};
};

struct Window {
    HWND handle{nullptr};
    const WindowClass* cls{nullptr};
    std::string title;
    DWORD style{0};
    DWORD ex_style{0};
    RECT rect{}; // window rectangle in screen coordinates
    bool destroyed{false};
    RECT update{}; // bounding rectangle of the update region (client coordinates)
    bool update_erase{false};
    int scroll_pos[2]{}; // SB_HORZ, SB_VERT
    int scroll_min[2]{};
    int scroll_max[2]{};
    platform::Image surface; // client area pixels
};

// A posted or input message waiting in the thread's queue.
struct QueuedMessage {
    MSG msg{};
    bool input{false}; // keyboard input: updates the key state when retrieved
};

class User {
public:
    static User& the();

    // Classes
    ATOM register_class(const WNDCLASSA& wc);
    const WindowClass* find_class(const char* name) const;

    // Windows
    Window* window(HWND hwnd);
    HWND add_window(std::unique_ptr<Window> window);
    void remove_window(HWND hwnd);
    std::vector<HWND> top_level_windows() const; // creation order, live windows only
    HWND focus() const { return m_focus; }
    void set_focus(HWND hwnd) { m_focus = hwnd; }

    // Registered messages: one number per name, case-insensitive, from 0xC000 up.
    UINT register_message(const char* name);
    std::string message_name(UINT message) const; // "" when not registered

    // Queue (thread-safe)
    void post(const MSG& msg, bool input = false);
    void post_quit(int code);
    // Runs `call` on the GUI thread at its next retrieval or wait; returns at once.
    void send_from_outside(std::function<void()> call);
    // Retrieves the next message as PeekMessage/GetMessage do; waits when `wait` is set.
    // Returns false when nothing is there (peek) ; sets `quit` when WM_QUIT is retrieved.
    bool next_message(MSG& out, HWND filter, UINT min, UINT max, bool remove, bool wait);
    // Dispatches messages sent from other threads; returns how many ran.
    int run_incoming_sends();

    // Key state, as the thread has read it from its queue.
    SHORT key_state(int vk) const;
    void note_key(UINT vk, bool down);
    bool key_down(int vk) const { return (key_state(vk) & 0x8000) != 0; }

    // Keys as the keyboard holds them, before the queue has delivered them (injected input).
    [[nodiscard]] bool physical_key(UINT vk) const { return m_physical[vk & 0xFF]; }
    void set_physical_key(UINT vk, bool down) { m_physical[vk & 0xFF] = down; }

    HCURSOR cursor() const { return m_cursor; }
    HCURSOR set_cursor(HCURSOR c) {
        HCURSOR old = m_cursor;
        m_cursor = c;
        return old;
    }

private:
    friend struct testing::UserAccess; // win32/testing: a clean slate and an idle hook
    User() = default;
    bool take_posted(MSG& out, HWND filter, UINT min, UINT max, bool remove);
    bool take_paint(MSG& out, HWND filter, UINT min, UINT max);
    void wake();

    std::map<std::string, std::unique_ptr<WindowClass>> m_classes; // key: lower-case name
    std::map<uintptr_t, std::unique_ptr<Window>> m_windows;
    std::vector<HWND> m_order; // creation order
    uintptr_t m_next_handle{0x10020};
    HWND m_focus{nullptr};
    HCURSOR m_cursor{nullptr};

    std::map<std::string, UINT> m_message_numbers; // key: lower-case name
    std::map<UINT, std::string> m_message_names;
    UINT m_next_message{0xC000};

    mutable std::mutex m_mutex;
    std::deque<QueuedMessage> m_posted;
    std::deque<std::function<void()>> m_incoming;
    bool m_quit{false};
    int m_quit_code{0};
    BYTE m_keys[256]{};     // bit 7: down, bit 0: toggled
    bool m_physical[256]{}; // down on the keyboard, whether or not the queue delivered it

    // Called each time a peek finds the queue empty, with a count from 0; none unless a
    // driver of the process's input sets it.
    std::function<void(int)> m_idle_hook;
    int m_idle_count{0};
};

// Helpers shared by the USER files.
LRESULT call_window(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
RECT client_rect_in_window(const Window& w); // client area relative to the window's top-left
void send_size_and_move(HWND hwnd);

} // namespace win32
