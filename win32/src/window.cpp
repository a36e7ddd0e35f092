// Windows and window classes: creation and destruction, geometry, scroll bars, text, focus
// and cursors.
#include "user.h"

#include "bus_seam.h"
#include "display.h"
#include "platform/events.h"
#include "platform/text.h"
#include "window_surface.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <cstring>

using win32::User;
using win32::Window;

namespace win32 {

namespace {

// The fixed metrics shared by AdjustWindowRect, GetSystemMetrics and the displays.
constexpr int k_screen_width = 1024;
constexpr int k_screen_height = 768;
constexpr int k_caption = 19;
constexpr int k_menu = 19;
constexpr int k_border = 1;
constexpr int k_dlg_frame = 3;
constexpr int k_frame = 4;
constexpr int k_scroll_bar = 16;

// The window manager's bounds: positions and sizes fit the 16 bits that WM_MOVE and WM_SIZE
// carry, and a window's surface holds at most k_max_surface_pixels (the client area beyond it
// is clipped away, as beyond the screen). A window asked to be larger gets the bound.
constexpr int k_min_coordinate = -32768;
constexpr int k_max_coordinate = 32767;
constexpr size_t k_max_surface_pixels = size_t(2048) * 2048;

// Default place and size of an overlapped window created with CW_USEDEFAULT.
constexpr int k_default_x = 26;
constexpr int k_default_y = 26;

// The width of the frame on each side: an outer edge of 2 for sizing and dialog frames, the
// sizing border's own width beyond a dialog frame, and one line more when the style also has
// a border or dialog frame (a caption has both). A caption with a sizing frame gives 4, a
// sizing frame alone 3, as Windows draws them.
int frame_width(DWORD style) {
    int width = 0;
    if (style & (WS_THICKFRAME | WS_DLGFRAME))
        width += 2;
    if (style & WS_THICKFRAME)
        width += k_frame - k_dlg_frame;
    if (style & (WS_BORDER | WS_DLGFRAME))
        width += k_border;
    return width;
}

bool has_caption(DWORD style) {
    return (style & WS_CAPTION) == WS_CAPTION;
}

int width_of(const RECT& r) {
    return r.right - r.left;
}
int height_of(const RECT& r) {
    return r.bottom - r.top;
}

Window* get_window(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    if (!w)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

// A window rectangle within the window manager's bounds.
RECT bounded_rect(int x, int y, int cx, int cy) {
    x = std::clamp(x, k_min_coordinate, k_max_coordinate);
    y = std::clamp(y, k_min_coordinate, k_max_coordinate);
    cx = std::clamp(cx, 0, k_max_coordinate);
    cy = std::clamp(cy, 0, k_max_coordinate);
    return {x, y, x + cx, y + cy};
}

// Keeps the surface the size of the client area, up to k_max_surface_pixels; existing pixels stay
// at the top left. A surface that cannot be had leaves the old one in place: the window lives
// on, drawing is clipped to what its surface holds.
void fit_surface(Window& w) {
    RECT c = client_rect_in_window(w);
    int cw = std::max(0, width_of(c)), ch = std::max(0, height_of(c));
    if (cw > 0 && size_t(cw) * size_t(ch) > k_max_surface_pixels)
        ch = int(k_max_surface_pixels / size_t(cw));
    if (cw == w.surface.width && ch == w.surface.height)
        return;
    platform::Image fresh;
    try {
        fresh = platform::Image(cw, ch);
    } catch (const std::bad_alloc&) {
        fprintf(stderr, "wintest: no memory for a window surface of %d x %d\n", cw, ch);
        return;
    }
    for (int y = 0; y < std::min(ch, w.surface.height); ++y)
        for (int x = 0; x < std::min(cw, w.surface.width); ++x)
            fresh.at(x, y) = w.surface.at(x, y);
    w.surface = std::move(fresh);
}

void invalidate_all(Window& w, bool erase) {
    RECT c = client_rect_in_window(w);
    w.update = {0, 0, width_of(c), height_of(c)};
    w.update_erase = w.update_erase || erase;
}

// The focus goes to the most recent visible top-level window, if any.
void refocus() {
    auto all = User::the().top_level_windows();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        Window* w = User::the().window(*it);
        if (w && (w->style & WS_VISIBLE)) {
            User::the().set_focus(*it);
            return;
        }
    }
    User::the().set_focus(nullptr);
}

void activate(HWND hwnd) {
    HWND old = User::the().focus();
    if (old == hwnd)
        return;
    User::the().set_focus(hwnd);
    call_window(hwnd, WM_NCACTIVATE, TRUE, 0);
    call_window(hwnd, WM_ACTIVATE, 1 /* WA_ACTIVE */, 0);
    call_window(hwnd, WM_SETFOCUS, WPARAM(old), 0);
}

// Moves and sizes a window as SetWindowPos does, with the messages it sends.
BOOL set_window_pos(HWND hwnd, int x, int y, int cx, int cy, UINT flags) {
    Window* w = get_window(hwnd);
    if (!w)
        return FALSE;
    RECT old = w->rect;
    if (flags & SWP_NOMOVE) {
        x = old.left;
        y = old.top;
    }
    if (flags & SWP_NOSIZE) {
        cx = width_of(old);
        cy = height_of(old);
    }
    RECT bounded = bounded_rect(x, y, cx, cy);
    x = bounded.left;
    y = bounded.top;
    cx = width_of(bounded);
    cy = height_of(bounded);
    if (x == old.left && y == old.top)
        flags |= SWP_NOMOVE;
    if (cx == width_of(old) && cy == height_of(old))
        flags |= SWP_NOSIZE;

    WINDOWPOS pos{hwnd, nullptr, x, y, cx, cy, flags};
    call_window(hwnd, WM_WINDOWPOSCHANGING, 0, LPARAM(&pos));
    if (!(w = User::the().window(hwnd)))
        return TRUE;
    if (flags & SWP_SHOWWINDOW)
        w->style |= WS_VISIBLE;
    if (flags & SWP_HIDEWINDOW)
        w->style &= ~WS_VISIBLE;
    w->rect = bounded_rect(pos.x, pos.y, pos.cx, pos.cy);
    fit_surface(*w);
    if (!(flags & SWP_NOSIZE))
        invalidate_all(*w, true);
    display().window_changed(hwnd);
    call_window(hwnd, WM_WINDOWPOSCHANGED, 0, LPARAM(&pos));
    return TRUE;
}

// The client size changed without a move or resize (a scroll bar came or went).
void client_changed(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    if (!w)
        return;
    fit_surface(*w);
    invalidate_all(*w, true);
    display().window_changed(hwnd);
    RECT c = client_rect_in_window(*w);
    WPARAM kind = (w->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : SIZE_RESTORED;
    call_window(hwnd, WM_SIZE, kind, MAKELPARAM(width_of(c), height_of(c)));
}

HCURSOR predefined_cursor(uintptr_t id) {
    return reinterpret_cast<HCURSOR>(0x10000 + (id & 0xFF));
}

} // namespace

RECT client_rect_in_window(const Window& w) {
    int f = frame_width(w.style);
    RECT c{f, f + (has_caption(w.style) ? k_caption : 0), width_of(w.rect) - f,
           height_of(w.rect) - f};
    if (w.style & WS_VSCROLL)
        c.right -= k_scroll_bar;
    if (w.style & WS_HSCROLL)
        c.bottom -= k_scroll_bar;
    c.right = std::max(c.right, c.left);
    c.bottom = std::max(c.bottom, c.top);
    return c;
}

void send_size_and_move(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    if (!w)
        return;
    RECT c = client_rect_in_window(*w);
    WPARAM kind = (w->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : SIZE_RESTORED;
    call_window(hwnd, WM_SIZE, kind, MAKELPARAM(width_of(c), height_of(c)));
    if ((w = User::the().window(hwnd)))
        call_window(hwnd, WM_MOVE, 0, MAKELPARAM(w->rect.left + c.left, w->rect.top + c.top));
}

platform::Image* window_surface(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    return w ? &w->surface : nullptr;
}

void window_surface_changed(HWND hwnd) {
    display().surface_changed(hwnd);
}

} // namespace win32

using namespace win32;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return User::the().register_class(*wc);
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    const WindowClass* cls = User::the().find_class(className);
    if (!cls) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    bool popup = (style & WS_POPUP) != 0;
    if (x == CW_USEDEFAULT) {
        x = popup ? 0 : k_default_x;
        y = popup ? 0 : k_default_y;
    }
    if (width == CW_USEDEFAULT) {
        width = popup ? 0 : k_screen_width * 3 / 4;
        height = popup ? 0 : k_screen_height * 3 / 4;
    }
    if (!popup)
        style |= WS_CAPTION | WS_CLIPSIBLINGS; // overlapped windows always have a caption

    auto w = std::make_unique<Window>();
    w->cls = cls;
    w->title = windowName ? windowName : "";
    w->style = style & ~WS_VISIBLE;
    w->ex_style = exStyle;
    w->rect = bounded_rect(x, y, width, height);
    fit_surface(*w);
    HWND hwnd = User::the().add_window(std::move(w));

    CREATESTRUCTA cs{param, instance, menu,        parent,     height,    width,
                     y,     x,        LONG(style), windowName, className, exStyle};
    if (!call_window(hwnd, WM_NCCREATE, 0, LPARAM(&cs)) ||
        call_window(hwnd, WM_CREATE, 0, LPARAM(&cs)) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    platform::Event created;
    created.kind = platform::EventKind::Window;
    created.name = cls->name;
    created.text = windowName ? windowName : "";
    platform::emit(created);
    display().window_created(hwnd);
    window_created_for_bus(hwnd);

    send_size_and_move(hwnd);
    if (User::the().window(hwnd) && (style & WS_VISIBLE))
        ShowWindow(hwnd, SW_SHOW);
    return User::the().window(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    Window* w = get_window(hwnd);
    if (!w)
        return FALSE;
    bool had_focus = User::the().focus() == hwnd;
    call_window(hwnd, WM_DESTROY, 0, 0);
    call_window(hwnd, WM_NCDESTROY, 0, 0);
    if ((w = User::the().window(hwnd)))
        w->destroyed = true;
    display().window_destroyed(hwnd);
    User::the().remove_window(hwnd);
    if (had_focus)
        refocus();
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) {
    return User::the().window(hwnd) != nullptr;
}

BOOL WINAPI ShowWindow(HWND hwnd, int cmdShow) {
    Window* w = get_window(hwnd);
    if (!w)
        return FALSE;
    BOOL was_visible = (w->style & WS_VISIBLE) != 0;
    switch (cmdShow) {
    case SW_HIDE:
        if (!was_visible)
            return FALSE;
        call_window(hwnd, WM_SHOWWINDOW, FALSE, 0);
        if ((w = User::the().window(hwnd)))
            w->style &= ~WS_VISIBLE;
        display().window_changed(hwnd);
        if (User::the().focus() == hwnd)
            refocus();
        return was_visible;
    case SW_MAXIMIZE: {
        int f = frame_width(w->style);
        w->style |= WS_MAXIMIZE | WS_VISIBLE;
        set_window_pos(hwnd, -f, -f, k_screen_width + 2 * f, k_screen_height + 2 * f, SWP_NOZORDER);
        break;
    }
    case SW_RESTORE:
        w->style &= ~(WS_MAXIMIZE | WS_MINIMIZE);
        break;
    default:
        break;
    }
    if (!(w = User::the().window(hwnd)))
        return was_visible;
    if (!was_visible) {
        call_window(hwnd, WM_SHOWWINDOW, TRUE, 0);
        if (!(w = User::the().window(hwnd)))
            return was_visible;
        w->style |= WS_VISIBLE;
        invalidate_all(*w, true);
        display().window_changed(hwnd);
    }
    if (cmdShow != SW_SHOWMINIMIZED && cmdShow != SW_MINIMIZE)
        activate(hwnd);
    return was_visible;
}

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text) {
    if (!get_window(hwnd))
        return FALSE;
    return BOOL(SendMessageA(hwnd, WM_SETTEXT, 0, LPARAM(text)));
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR text, int maxCount) {
    Window* w = get_window(hwnd);
    if (!w || !text || maxCount <= 0)
        return 0;
    size_t n = std::min(w->title.size(), size_t(maxCount - 1));
    memcpy(text, w->title.data(), n);
    text[n] = '\0';
    return int(n);
}

LONG WINAPI GetWindowLongA(HWND hwnd, int index) {
    Window* w = get_window(hwnd);
    if (!w)
        return 0;
    switch (index) {
    case GWL_STYLE:
        return LONG(w->style);
    case GWL_EXSTYLE:
        return LONG(w->ex_style);
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

BOOL WINAPI IsZoomed(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    return w && (w->style & WS_MAXIMIZE);
}

BOOL WINAPI IsIconic(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    return w && (w->style & WS_MINIMIZE);
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    return w && (w->style & WS_VISIBLE);
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    for (HWND h : User::the().top_level_windows()) {
        Window* w = User::the().window(h);
        if (className && !platform::ascii_iequal(w->cls->name, className))
            continue;
        if (windowName && w->title != windowName)
            continue;
        return h;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (!rect)
        return FALSE;
    if (has_caption(style))
        rect->top -= k_caption;
    if (menu)
        rect->top -= k_menu;
    int f = frame_width(style);
    rect->left -= f;
    rect->top -= f;
    rect->right += f;
    rect->bottom += f;
    return TRUE;
}

BOOL WINAPI AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) {
    return AdjustWindowRectEx(rect, style, menu, 0);
}

int WINAPI GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSCREEN:
        return k_screen_width;
    case SM_CYSCREEN:
        return k_screen_height;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
        return k_scroll_bar;
    case SM_CYCAPTION:
        return k_caption;
    case SM_CXBORDER:
    case SM_CYBORDER:
        return k_border;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
        return k_dlg_frame;
    case SM_CYMENU:
        return k_menu;
    case SM_CXFRAME:
    case SM_CYFRAME:
        return k_frame;
    default:
        return 0;
    }
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
    Window* w = get_window(hwnd);
    if (!w || !rect)
        return FALSE;
    RECT c = client_rect_in_window(*w);
    *rect = {0, 0, width_of(c), height_of(c)};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
    Window* w = get_window(hwnd);
    if (!w || !rect)
        return FALSE;
    *rect = w->rect;
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    return set_window_pos(hwnd, x, y, cx, cy, flags);
}

BOOL WINAPI MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    return set_window_pos(hwnd, x, y, width, height, SWP_NOZORDER | (repaint ? 0 : SWP_NOREDRAW));
}

int WINAPI GetScrollPos(HWND hwnd, int bar) {
    Window* w = get_window(hwnd);
    if (!w || (bar != SB_HORZ && bar != SB_VERT))
        return 0;
    return w->scroll_pos[bar];
}

int WINAPI SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw) {
    Window* w = get_window(hwnd);
    if (!w || (bar != SB_HORZ && bar != SB_VERT))
        return 0;
    int old = w->scroll_pos[bar];
    w->scroll_pos[bar] =
        std::clamp(pos, w->scroll_min[bar], std::max(w->scroll_min[bar], w->scroll_max[bar]));
    return old;
}

BOOL WINAPI SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw) {
    Window* w = get_window(hwnd);
    if (!w || (bar != SB_HORZ && bar != SB_VERT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    w->scroll_min[bar] = minPos;
    w->scroll_max[bar] = maxPos;
    w->scroll_pos[bar] = std::clamp(w->scroll_pos[bar], minPos, std::max(minPos, maxPos));
    // A scroll bar shows while its range is not empty, and takes room from the client area.
    DWORD flag = bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL;
    DWORD style = maxPos > minPos ? (w->style | flag) : (w->style & ~flag);
    if (style != w->style) {
        w->style = style;
        client_changed(hwnd);
    }
    return TRUE;
}

BOOL WINAPI GetScrollRange(HWND hwnd, int bar, int* minPos, int* maxPos) {
    Window* w = get_window(hwnd);
    if (!w || (bar != SB_HORZ && bar != SB_VERT) || !minPos || !maxPos)
        return FALSE;
    *minPos = w->scroll_min[bar];
    *maxPos = w->scroll_max[bar];
    return TRUE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    uintptr_t id = reinterpret_cast<uintptr_t>(name);
    if (instance || id > 0xFFFF || (id != 32512 && id != 32514)) {
        SetLastError(1814 /* ERROR_RESOURCE_NAME_NOT_FOUND */);
        return nullptr;
    }
    return predefined_cursor(id);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    uintptr_t id = reinterpret_cast<uintptr_t>(name);
    if (instance || id != 32512) {
        SetLastError(1814 /* ERROR_RESOURCE_NAME_NOT_FOUND */);
        return nullptr;
    }
    return reinterpret_cast<HICON>(0x10100);
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    HCURSOR old = User::the().set_cursor(cursor);
    if (old != cursor)
        display().cursor_changed(cursor);
    return old;
}

HCURSOR WINAPI GetCursor(void) {
    return User::the().cursor();
}

HWND WINAPI GetFocus(void) {
    return User::the().focus();
}

HWND WINAPI SetFocus(HWND hwnd) {
    HWND old = User::the().focus();
    if (hwnd && !get_window(hwnd))
        return nullptr;
    if (hwnd)
        activate(hwnd);
    else
        User::the().set_focus(nullptr);
    return old;
}

HWND WINAPI GetActiveWindow(void) {
    return User::the().focus();
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    return moduleName ? nullptr : reinterpret_cast<HMODULE>(0x400000);
}

} // extern "C"
