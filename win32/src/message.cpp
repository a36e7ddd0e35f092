// Messages: registration, sending (re-entrant and synchronous), posting, the thread's
// message queue and the default window procedure.
#include "user.h"

#include "display.h"
#include "platform/events.h"
#include "window_surface.h"

#include "bus/bus.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace win32 {

LRESULT call_window(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = User::the().window(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return w->cls->wc.lpfnWndProc(hwnd, msg, wParam, lParam);
}

namespace {

void report_broadcast(UINT message, WPARAM wParam, LPARAM lParam) {
    platform::Event e;
    e.kind = platform::EventKind::Broadcast;
    e.name = User::the().message_name(message);
    if (e.name.empty()) {
        char number[16];
        snprintf(number, sizeof number, "0x%04x", message);
        e.name = number;
    }
    e.wparam = uint64_t(wParam);
    e.lparam = int64_t(lParam);
    platform::emit(e);
}

// The character that a key gives on a US keyboard, or 0 for keys that give none.
char key_character(UINT vk, bool shift) {
    if (vk >= 'A' && vk <= 'Z')
        return shift ? char(vk) : char(vk - 'A' + 'a');
    if (vk >= '0' && vk <= '9')
        return shift ? ")!@#$%^&*("[vk - '0'] : char(vk);
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9)
        return char('0' + vk - VK_NUMPAD0);
    switch (vk) {
    case VK_SPACE:
        return ' ';
    case VK_RETURN:
        return '\r';
    case VK_ESCAPE:
        return 0x1B;
    case VK_BACK:
        return 0x08;
    case VK_TAB:
        return '\t';
    case VK_OEM_1:
        return shift ? ':' : ';';
    case VK_OEM_PLUS:
        return shift ? '+' : '=';
    case VK_OEM_COMMA:
        return shift ? '<' : ',';
    case VK_OEM_MINUS:
        return shift ? '_' : '-';
    case VK_OEM_PERIOD:
        return shift ? '>' : '.';
    case VK_OEM_2:
        return shift ? '?' : '/';
    default:
        return 0;
    }
}

LRESULT on_window_pos_changed(HWND hwnd, const WINDOWPOS* pos) {
    Window* w = User::the().window(hwnd);
    if (!w || !pos)
        return 0;
    RECT c = client_rect_in_window(*w);
    if (!(pos->flags & SWP_NOSIZE)) {
        WPARAM kind = (w->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : SIZE_RESTORED;
        call_window(hwnd, WM_SIZE, kind, MAKELPARAM(c.right - c.left, c.bottom - c.top));
    }
    if (!(pos->flags & SWP_NOMOVE) && (w = User::the().window(hwnd)))
        call_window(hwnd, WM_MOVE, 0, MAKELPARAM(w->rect.left + c.left, w->rect.top + c.top));
    return 0;
}

} // namespace
} // namespace win32

using namespace win32;

extern "C" {

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
    return User::the().register_message(name);
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd == HWND_BROADCAST) {
        report_broadcast(msg, wParam, lParam);
        for (HWND h : User::the().top_level_windows())
            call_window(h, msg, wParam, lParam);
        ::bus::broadcast_to_peers(msg, wParam, lParam);
        return TRUE;
    }
    if (!User::the().window(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return call_window(hwnd, msg, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    if (hwnd == HWND_BROADCAST) {
        for (HWND h : User::the().top_level_windows()) {
            m.hwnd = h;
            User::the().post(m);
        }
        return TRUE;
    }
    if (hwnd && !User::the().window(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    m.hwnd = hwnd;
    User::the().post(m);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    User::the().post_quit(exitCode);
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
    if (!msg)
        return FALSE;
    return User::the().next_message(*msg, hwnd, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0,
                                    false);
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    User::the().next_message(*msg, hwnd, filterMin, filterMax, true, true);
    return msg->message != WM_QUIT;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (!msg)
        return FALSE;
    bool sys = msg->message == WM_SYSKEYDOWN;
    if (msg->message != WM_KEYDOWN && !sys)
        return msg->message == WM_KEYUP || msg->message == WM_SYSKEYUP;
    char c = key_character(UINT(msg->wParam), User::the().key_down(VK_SHIFT));
    if (c) {
        MSG ch = *msg;
        ch.message = sys ? WM_SYSCHAR : WM_CHAR;
        ch.wParam = WPARAM(static_cast<unsigned char>(c));
        User::the().post(ch);
    }
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd)
        return 0;
    return call_window(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = User::the().window(hwnd);
    if (!w)
        return 0;
    switch (msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_ERASEBKGND: {
        HBRUSH brush = w->cls->wc.hbrBackground;
        if (!brush)
            return 0;
        gdi::fill_window_rect(hwnd, w->update, brush);
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && w->cls->wc.hCursor) {
            SetCursor(w->cls->wc.hCursor);
            return TRUE;
        }
        return FALSE;
    case WM_SETTEXT:
        w->title = lParam ? reinterpret_cast<const char*>(lParam) : "";
        display().window_changed(hwnd);
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        size_t n = std::min(w->title.size(), size_t(wParam - 1));
        memcpy(reinterpret_cast<char*>(lParam), w->title.data(), n);
        reinterpret_cast<char*>(lParam)[n] = '\0';
        return LRESULT(n);
    }
    case WM_GETTEXTLENGTH:
        return LRESULT(w->title.size());
    case WM_WINDOWPOSCHANGED:
        return on_window_pos_changed(hwnd, reinterpret_cast<const WINDOWPOS*>(lParam));
    case WM_SYSKEYDOWN:
        if (wParam == VK_F4 && (lParam & (1 << 29)))
            SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_NCACTIVATE:
        return TRUE;
    default:
        return 0;
    }
}

} // extern "C"
