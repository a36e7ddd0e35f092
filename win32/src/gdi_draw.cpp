// GDI drawing: the window origin, the background mode, visibility tests, BitBlt, GetPixel and
// FillRect. Logical coordinates minus the window origin give device coordinates; drawing is
// clipped to the context's visible region (a paint's update rectangle, a bitmap's bounds).
#include "gdi_internal.h"

namespace win32::gdi {

namespace {

// A logical rectangle in device coordinates.
RECT to_device(const DeviceContext& dc, const RECT& r) {
    return RECT{r.left - dc.origin.x, r.top - dc.origin.y, r.right - dc.origin.x,
                r.bottom - dc.origin.y};
}

// Pixels of a context as it is drawn now, for a blit source; empty for the screen.
bool copy_source(DeviceContext& dc, const RECT& device_rect, std::vector<uint32_t>& out,
                 RECT& valid) {
    platform::Image* image = target_of(dc);
    if (!image)
        return false;
    valid = intersect(device_rect, RECT{0, 0, image->width, image->height});
    LONG w = device_rect.right - device_rect.left;
    out.assign(size_t(w) * (device_rect.bottom - device_rect.top), 0);
    for (LONG y = valid.top; y < valid.bottom; ++y)
        for (LONG x = valid.left; x < valid.right; ++x)
            out[size_t(y - device_rect.top) * w + (x - device_rect.left)] = image->at(x, y);
    return true;
}

} // namespace

} // namespace win32::gdi

using namespace win32::gdi;

extern "C" {

/* Sets the window origin: logical (x, y) falls on the top-left of the context. */
BOOL WINAPI SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT previous) {
    DeviceContext* dc = find_dc(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (previous)
        *previous = dc->origin;
    dc->origin = POINT{x, y};
    return TRUE;
}

/* Returns the previous mode, 0 for a bad context or mode. */
int WINAPI SetBkMode(HDC hdc, int mode) {
    DeviceContext* dc = find_dc(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (mode != TRANSPARENT && mode != OPAQUE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int previous = dc->bk_mode;
    dc->bk_mode = mode;
    return previous;
}

/* TRUE when some part of the logical rectangle lies in the context's visible region. */
BOOL WINAPI RectVisible(HDC hdc, const RECT* rect) {
    DeviceContext* dc = find_dc(hdc);
    if (!dc || !rect) {
        SetLastError(dc ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    RECT r = *rect;
    if (r.left > r.right)
        std::swap(r.left, r.right);
    if (r.top > r.bottom)
        std::swap(r.top, r.bottom);
    return !is_empty(intersect(to_device(*dc, r), clip_of(*dc)));
}

/* Copies a rectangle between contexts (SRCCOPY), or fills it (BLACKNESS, WHITENESS). Source
 * pixels outside the source's pixels copy as black; the destination is clipped to its visible
 * region. Other raster operations are not part of this device: FALSE. */
BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc,
                   DWORD rop) {
    DeviceContext* d = find_dc(dest);
    if (!d) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (rop != SRCCOPY && rop != BLACKNESS && rop != WHITENESS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DeviceContext* s = rop == SRCCOPY ? find_dc(src) : nullptr;
    if (rop == SRCCOPY && !s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (width <= 0 || height <= 0)
        return TRUE;
    RECT target = to_device(*d, RECT{x, y, x + width, y + height});
    RECT clipped = intersect(target, clip_of(*d));
    platform::Image* image = target_of(*d);
    std::vector<uint32_t> pixels;
    if (s) {
        RECT from = to_device(*s, RECT{xSrc, ySrc, xSrc + width, ySrc + height});
        RECT valid;
        if (!copy_source(*s, from, pixels, valid))
            pixels.assign(size_t(width) * height, 0);
    } else {
        pixels.assign(size_t(width) * height, rop == WHITENESS ? 0xFFFFFF : 0);
    }
    if (!image || is_empty(clipped))
        return TRUE;
    for (LONG py = clipped.top; py < clipped.bottom; ++py)
        for (LONG px = clipped.left; px < clipped.right; ++px)
            image->at(px, py) = pixels[size_t(py - target.top) * width + (px - target.left)];
    drew(*d);
    return TRUE;
}

/* The colour at a logical point, CLR_INVALID outside the visible region. */
COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    DeviceContext* dc = find_dc(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return CLR_INVALID;
    }
    platform::Image* image = target_of(*dc);
    RECT clip = clip_of(*dc);
    LONG dx = x - dc->origin.x, dy = y - dc->origin.y;
    if (!image || dx < clip.left || dx >= clip.right || dy < clip.top || dy >= clip.bottom)
        return CLR_INVALID;
    return colorref_of(image->at(dx, dy));
}

/* Fills a logical rectangle (right and bottom edges excluded) with a brush; the hollow brush
 * draws nothing. Returns nonzero on success. */
int WINAPI FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
    DeviceContext* dc = find_dc(hdc);
    Brush* b = find_brush(brush);
    if (!dc || !b || !rect) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    platform::Image* image = target_of(*dc);
    if (!b->colour || !image)
        return 1;
    RECT r = intersect(to_device(*dc, *rect), clip_of(*dc));
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x)
            image->at(x, y) = *b->colour;
    if (!is_empty(r))
        drew(*dc);
    return 1;
}
}
