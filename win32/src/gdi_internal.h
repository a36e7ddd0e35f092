// GDI inside: the objects behind the handles (bitmaps, palettes, brushes, device contexts) on
// a true-colour device whose pixels are 0x00RRGGBB.
#pragma once

#include <windows.h>

#include "platform/image.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace win32::gdi {

enum class Kind { Bitmap, Palette, Brush, DeviceContext };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
    bool stock{false};          // stock objects are never deleted
    int selections{0};          // device contexts that hold the object selected
    bool delete_pending{false}; // DeleteObject came while selected: delete on last deselect
};

struct Bitmap : Object {
    Bitmap(int w, int h) : Object(Kind::Bitmap), image(w, h, 0) {}
    platform::Image image;
};

struct Palette : Object {
    Palette() : Object(Kind::Palette) {}
    std::vector<PALETTEENTRY> entries;
};

struct Brush : Object {
    explicit Brush(std::optional<uint32_t> c) : Object(Kind::Brush), colour(c) {}
    std::optional<uint32_t> colour; // 0x00RRGGBB; none for the hollow brush
};

enum class DcKind { Screen, Window, Memory };

struct DeviceContext : Object {
    explicit DeviceContext(DcKind k) : Object(Kind::DeviceContext), dc_kind(k) {}
    DcKind dc_kind;
    HWND hwnd{nullptr}; // window contexts
    RECT visible{};     // device coordinates; window and screen contexts
    POINT origin{0, 0}; // window origin: logical (origin) falls on device (0, 0)
    int bk_mode{OPAQUE};
    HBITMAP bitmap{nullptr}; // memory contexts: the selected bitmap
    HPALETTE palette{nullptr};
    HBRUSH brush{nullptr};
};

// Looks a handle up; nullptr when it names no object of that kind. Sets no error.
Object* find_object(HGDIOBJ handle);
Bitmap* find_bitmap(HGDIOBJ handle);
Palette* find_palette(HGDIOBJ handle);
Brush* find_brush(HGDIOBJ handle);
DeviceContext* find_dc(HDC handle);

// Adds an object to the table and returns its new handle.
HGDIOBJ add_object(std::unique_ptr<Object> object);

// The pixels a context draws into (nullptr for the screen, which keeps no pixels).
platform::Image* target_of(DeviceContext& dc);

// The region a context may draw in, in device coordinates.
RECT clip_of(DeviceContext& dc);

// Tells the window manager that a window context drew.
void drew(DeviceContext& dc);

// The colours of the context's selected palette as 0x00RRGGBB.
std::vector<uint32_t> palette_colours(DeviceContext* dc);

inline COLORREF colorref_of(uint32_t p) {
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

inline RECT intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.left >= r.right || r.top >= r.bottom)
        return RECT{0, 0, 0, 0};
    return r;
}
inline bool is_empty(const RECT& r) {
    return r.left >= r.right || r.top >= r.bottom;
}

} // namespace win32::gdi
