// Painting: the update region of each window, WM_PAINT and the paint device context.
#include "user.h"

#include "window_surface.h"

#include <algorithm>

using namespace win32;

namespace {

bool is_empty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

RECT client_of(const Window& w) {
    RECT c = client_rect_in_window(w);
    return {0, 0, c.right - c.left, c.bottom - c.top};
}

RECT intersect(const RECT& a, const RECT& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

// Adds a rectangle (client coordinates; null for the whole client area) to the update region,
// kept as its bounding rectangle.
void invalidate(Window& w, const RECT* rect, bool erase) {
    RECT r = intersect(rect ? *rect : client_of(w), client_of(w));
    if (is_empty(r))
        return;
    if (is_empty(w.update))
        w.update = r;
    else
        w.update = {std::min(w.update.left, r.left), std::min(w.update.top, r.top),
                    std::max(w.update.right, r.right), std::max(w.update.bottom, r.bottom)};
    w.update_erase = w.update_erase || erase;
}

// Removes a rectangle from the update region: a bounding rectangle shrinks only where the
// validated rectangle covers one whole side of it.
void validate(Window& w, const RECT* rect) {
    if (!rect) {
        w.update = {};
        w.update_erase = false;
        return;
    }
    RECT& u = w.update;
    const RECT& r = *rect;
    bool spans_x = r.left <= u.left && r.right >= u.right;
    bool spans_y = r.top <= u.top && r.bottom >= u.bottom;
    if (spans_x && spans_y)
        u = {};
    else if (spans_x && r.top <= u.top && r.bottom > u.top)
        u.top = r.bottom;
    else if (spans_x && r.bottom >= u.bottom && r.top < u.bottom)
        u.bottom = r.top;
    else if (spans_y && r.left <= u.left && r.right > u.left)
        u.left = r.right;
    else if (spans_y && r.right >= u.right && r.left < u.right)
        u.right = r.left;
    if (is_empty(u)) {
        u = {};
        w.update_erase = false;
    }
}

} // namespace

extern "C" {

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
    if (!hwnd) {
        for (HWND h : User::the().top_level_windows())
            invalidate(*User::the().window(h), nullptr, erase);
        return TRUE;
    }
    Window* w = User::the().window(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    invalidate(*w, rect, erase);
    return TRUE;
}

BOOL WINAPI ValidateRect(HWND hwnd, const RECT* rect) {
    Window* w = User::the().window(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    validate(*w, rect);
    return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND hwnd, LPRECT rect, BOOL erase) {
    Window* w = User::the().window(hwnd);
    if (!w)
        return FALSE;
    if (rect)
        *rect = w->update;
    return !is_empty(w->update);
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
    Window* w = User::the().window(hwnd);
    if (!w || !paint) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    *paint = PAINTSTRUCT{};
    paint->rcPaint = w->update;
    bool erase = w->update_erase;
    w->update = {};
    w->update_erase = false;
    paint->hdc = gdi::open_window_dc(hwnd, paint->rcPaint);
    paint->fErase = TRUE;
    if (erase && !is_empty(paint->rcPaint)) {
        // The background fill covers the area being painted.
        w->update = paint->rcPaint;
        if (call_window(hwnd, WM_ERASEBKGND, WPARAM(paint->hdc), 0))
            paint->fErase = FALSE;
        if ((w = User::the().window(hwnd)))
            w->update = {};
    } else if (!erase) {
        paint->fErase = FALSE;
    }
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
    if (paint)
        gdi::close_window_dc(paint->hdc);
    window_surface_changed(hwnd);
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!is_empty(w->update))
        call_window(hwnd, WM_PAINT, 0, 0);
    return TRUE;
}

} // extern "C"
