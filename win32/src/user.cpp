#include "user.h"

#include "display.h"
#include "bus/bus.h"
#include "platform/text.h"

#include <algorithm>
#include <chrono>

namespace win32 {

namespace {

std::string lower(const char* s) {
    return platform::ascii_lower(s ? s : "");
}

bool in_filter(UINT message, UINT min, UINT max) {
    return (min == 0 && max == 0) || (message >= min && message <= max);
}

bool for_window(HWND hwnd, HWND filter) {
    return filter == nullptr || hwnd == filter;
}

} // namespace

User& User::the() {
    static User s_user;
    return s_user;
}

ATOM User::register_class(const WNDCLASSA& wc) {
    std::string key = lower(wc.lpszClassName);
    if (key.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (m_classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto cls = std::make_unique<WindowClass>();
    cls->name = wc.lpszClassName;
    cls->wc = wc;
    cls->wc.lpszClassName = cls->name.c_str();
    cls->wc.lpszMenuName = nullptr;
    m_classes[key] = std::move(cls);
    return ATOM(0xC000 + m_classes.size());
}

const WindowClass* User::find_class(const char* name) const {
    auto it = m_classes.find(lower(name));
    return it == m_classes.end() ? nullptr : it->second.get();
}

Window* User::window(HWND hwnd) {
    auto it = m_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == m_windows.end() || it->second->destroyed)
        return nullptr;
    return it->second.get();
}

HWND User::add_window(std::unique_ptr<Window> window) {
    HWND hwnd = reinterpret_cast<HWND>(m_next_handle);
    m_next_handle += 4;
    window->handle = hwnd;
    m_windows[reinterpret_cast<uintptr_t>(hwnd)] = std::move(window);
    m_order.push_back(hwnd);
    return hwnd;
}

void User::remove_window(HWND hwnd) {
    m_windows.erase(reinterpret_cast<uintptr_t>(hwnd));
    std::erase(m_order, hwnd);
    if (m_focus == hwnd)
        m_focus = nullptr;
    std::lock_guard lock(m_mutex);
    std::erase_if(m_posted, [hwnd](const QueuedMessage& q) { return q.msg.hwnd == hwnd; });
}

std::vector<HWND> User::top_level_windows() const {
    std::vector<HWND> out;
    for (HWND h : m_order) {
        auto it = m_windows.find(reinterpret_cast<uintptr_t>(h));
        if (it != m_windows.end() && !it->second->destroyed)
            out.push_back(h);
    }
    return out;
}

UINT User::register_message(const char* name) {
    std::string key = lower(name);
    if (key.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto it = m_message_numbers.find(key);
    if (it != m_message_numbers.end())
        return it->second;
    if (m_next_message > 0xFFFF) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    UINT number = m_next_message++;
    m_message_numbers[key] = number;
    m_message_names[number] = name;
    return number;
}

std::string User::message_name(UINT message) const {
    auto it = m_message_names.find(message);
    return it == m_message_names.end() ? std::string() : it->second;
}

void User::post(const MSG& msg, bool input) {
    {
        std::lock_guard lock(m_mutex);
        m_posted.push_back({msg, input});
    }
    wake();
}

void User::post_quit(int code) {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_quit_code = code;
    }
    wake();
}

void User::send_from_outside(std::function<void()> call) {
    {
        std::lock_guard lock(m_mutex);
        m_incoming.push_back(std::move(call));
    }
    wake();
}

// The GUI thread sleeps in the bus's wait, which a datagram for this process also ends.
void User::wake() {
    bus::wake_gui_thread();
}

int User::run_incoming_sends() {
    int ran = 0;
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(m_mutex);
            if (m_incoming.empty())
                return ran;
            call = std::move(m_incoming.front());
            m_incoming.pop_front();
        }
        call();
        ++ran;
    }
}

// Posted messages come before input, as in a Windows queue.
bool User::take_posted(MSG& out, HWND filter, UINT min, UINT max, bool remove) {
    std::lock_guard lock(m_mutex);
    for (bool input : {false, true}) {
        for (auto it = m_posted.begin(); it != m_posted.end(); ++it) {
            if (it->input != input || !for_window(it->msg.hwnd, filter) ||
                !in_filter(it->msg.message, min, max))
                continue;
            out = it->msg;
            if (remove) {
                m_posted.erase(it);
                if (input)
                    note_key(UINT(out.wParam),
                             out.message == WM_KEYDOWN || out.message == WM_SYSKEYDOWN);
            }
            return true;
        }
        if (!input && m_quit && filter == nullptr) {
            out = MSG{};
            out.message = WM_QUIT;
            out.wParam = WPARAM(m_quit_code);
            if (remove)
                m_quit = false;
            return true;
        }
    }
    return false;
}

// A WM_PAINT for the first window with a non-empty update region.
bool User::take_paint(MSG& out, HWND filter, UINT min, UINT max) {
    if (!in_filter(WM_PAINT, min, max))
        return false;
    for (HWND h : top_level_windows()) {
        Window* w = window(h);
        if (!for_window(h, filter) || !w || !(w->style & WS_VISIBLE))
            continue;
        if (w->update.right > w->update.left && w->update.bottom > w->update.top) {
            out = MSG{};
            out.hwnd = h;
            out.message = WM_PAINT;
            return true;
        }
    }
    return false;
}

bool User::next_message(MSG& out, HWND filter, UINT min, UINT max, bool remove, bool wait) {
    for (;;) {
        run_incoming_sends();
        display().poll();
        if (take_posted(out, filter, min, max, remove) || take_paint(out, filter, min, max)) {
            out.time = GetTickCount();
            return true;
        }
        if (!wait) {
            if (m_idle_hook) {
                auto hook = m_idle_hook; // the hook may replace itself
                hook(m_idle_count++);
                if (take_posted(out, filter, min, max, remove) || take_paint(out, filter, min, max))
                    return true;
            }
            return false;
        }
        // Woken by a post, a send from another thread or the bus; every 10 ms in any case, for
        // the display's events.
        bus::wait_on_gui_thread(std::chrono::milliseconds(10), [this] {
            std::lock_guard lock(m_mutex);
            return !m_posted.empty() || !m_incoming.empty() || m_quit;
        });
    }
}

SHORT User::key_state(int vk) const {
    BYTE k = m_keys[vk & 0xFF];
    return SHORT(((k & 0x80) ? 0x8000 : 0) | (k & 1));
}

void User::note_key(UINT vk, bool down) {
    auto set = [this](UINT key, bool is_down) {
        BYTE& k = m_keys[key & 0xFF];
        if (is_down && !(k & 0x80))
            k ^= 1; // toggled on each fresh press
        k = BYTE((k & 1) | (is_down ? 0x80 : 0));
    };
    set(vk, down);
    // The generic key follows its left and right forms and the other way round.
    if (vk == VK_LSHIFT || vk == VK_RSHIFT)
        set(VK_SHIFT, down);
    if (vk == VK_LCONTROL || vk == VK_RCONTROL)
        set(VK_CONTROL, down);
    if (vk == VK_LMENU || vk == VK_RMENU)
        set(VK_MENU, down);
}

} // namespace win32
