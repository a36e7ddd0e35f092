#include "bus_seam.h"

#include "user.h"

#include "bus/bus.h"
#include "bus/seams.h"
#include "win32/harness.h"

namespace win32 {

namespace {

RECT offset_rect(RECT r, int dx, int dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

// What the bus does to windows, done as the window manager of this process does it.
class UserWindowSystem final : public bus::WindowSystem {
public:
    void run_on_gui_thread(std::function<void()> work) override {
        User::the().send_from_outside(std::move(work));
    }
    void run_queued_work() override { User::the().run_incoming_sends(); }
    UINT register_message(const std::string& name) override {
        return User::the().register_message(name.c_str());
    }
    std::string message_name(UINT message) override { return User::the().message_name(message); }
    bool is_window(HWND hwnd) override { return User::the().window(hwnd) != nullptr; }

    // The pid is the receiver's to fill: a window list names no process.
    std::vector<desktop::WindowInfo> top_level_windows() override {
        std::vector<desktop::WindowInfo> out;
        for (HWND h : User::the().top_level_windows()) {
            Window* win = User::the().window(h);
            RECT c = client_rect_in_window(*win);
            out.push_back({0, desktop::WindowId(reinterpret_cast<uintptr_t>(h)), win->cls->name,
                           win->title, (win->style & WS_VISIBLE) != 0, win->rect,
                           offset_rect(c, win->rect.left, win->rect.top), win->style, win->ex_style,
                           User::the().focus() == h});
        }
        return out;
    }

    void deliver_to_top_level(UINT message, WPARAM wParam, LPARAM lParam) override {
        for (HWND h : User::the().top_level_windows())
            call_window(h, message, wParam, lParam);
    }

    bool inject_key(HWND hwnd, UINT vk, bool down) override {
        return harness::inject_key(vk, down, hwnd);
    }

    platform::Status window_action(HWND hwnd, desktop::WindowCommand action, int x,
                                   int y) override {
        const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        switch (action) {
        case desktop::WindowCommand::Close:
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
            break;
        case desktop::WindowCommand::Move:
            SetWindowPos(hwnd, nullptr, x, y, 0, 0, flags | SWP_NOSIZE);
            break;
        case desktop::WindowCommand::Resize:
            SetWindowPos(hwnd, nullptr, 0, 0, x, y, flags | SWP_NOMOVE);
            break;
        case desktop::WindowCommand::DisplayChange:
            // The system tells every top-level window of the new mode.
            for (HWND h : User::the().top_level_windows())
                SendMessageA(h, WM_DISPLAYCHANGE, 32, MAKELPARAM(x, y));
            break;
        }
        return {};
    }

    platform::Image window_picture(HWND hwnd) override { return harness::window_image(hwnd); }
};

UserWindowSystem g_window_system;
[[maybe_unused]] const bool g_registered = (bus::register_window_system(&g_window_system), true);

} // namespace

void window_created_for_bus(HWND hwnd) {
    if (Window* w = User::the().window(hwnd))
        bus::window_created(w->cls->name, w->title);
}

} // namespace win32
