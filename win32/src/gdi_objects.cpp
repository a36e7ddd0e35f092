// GDI objects: the handle table, stock objects, device contexts (screen, window, memory),
// palettes, selection and deletion.
#include "gdi_internal.h"
#include "window_surface.h"

#include "win32/faults.h"

#include <map>

namespace win32::gdi {

namespace {

// The twenty static colours of the default palette, as red, green, blue.
constexpr BYTE k_default_palette[20][3] = {
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

class ObjectTable {
public:
    static ObjectTable& the() {
        static ObjectTable s_table;
        return s_table;
    }

    HGDIOBJ add(std::unique_ptr<Object> object) {
        HGDIOBJ handle = reinterpret_cast<HGDIOBJ>(m_next);
        m_next += 4;
        m_objects.emplace(handle, std::move(object));
        return handle;
    }

    Object* find(HGDIOBJ handle) {
        auto it = m_objects.find(handle);
        return it == m_objects.end() ? nullptr : it->second.get();
    }

    void remove(HGDIOBJ handle) { m_objects.erase(handle); }

    HGDIOBJ stock(int index) const {
        auto it = m_stock.find(index);
        return it == m_stock.end() ? nullptr : it->second;
    }

    HBITMAP stock_bitmap() const { return m_stock_bitmap; }

private:
    ObjectTable() {
        const std::pair<int, std::optional<uint32_t>> brushes[] = {
            {WHITE_BRUSH, 0xFFFFFF},  {LTGRAY_BRUSH, 0xC0C0C0}, {GRAY_BRUSH, 0x808080},
            {DKGRAY_BRUSH, 0x404040}, {BLACK_BRUSH, 0x000000},  {NULL_BRUSH, std::nullopt},
        };
        for (auto& [index, colour] : brushes)
            m_stock[index] = add_stock(std::make_unique<Brush>(colour));
        auto palette = std::make_unique<Palette>();
        for (const auto& c : k_default_palette)
            palette->entries.push_back(PALETTEENTRY{c[0], c[1], c[2], 0});
        m_stock[DEFAULT_PALETTE] = add_stock(std::move(palette));
        m_stock_bitmap = static_cast<HBITMAP>(add_stock(std::make_unique<Bitmap>(1, 1)));
    }

    HGDIOBJ add_stock(std::unique_ptr<Object> object) {
        object->stock = true;
        return add(std::move(object));
    }

    std::map<HGDIOBJ, std::unique_ptr<Object>> m_objects;
    std::map<int, HGDIOBJ> m_stock;
    HBITMAP m_stock_bitmap{nullptr};
    uintptr_t m_next{0x20000};
};

template <typename T> T* find_as(HGDIOBJ handle, Kind kind) {
    Object* object = ObjectTable::the().find(handle);
    return object && object->kind == kind ? static_cast<T*>(object) : nullptr;
}

// Counts a selection of `handle` into a context.
void select_into(HGDIOBJ handle) {
    if (Object* object = find_object(handle))
        ++object->selections;
}

// Ends a selection; an object whose deletion waited for it is deleted now.
void deselect(HGDIOBJ handle) {
    Object* object = find_object(handle);
    if (!object)
        return;
    if (object->selections > 0)
        --object->selections;
    if (object->selections == 0 && object->delete_pending)
        ObjectTable::the().remove(handle);
}

HDC new_dc(DcKind kind, HWND hwnd, const RECT& visible) {
    auto dc = std::make_unique<DeviceContext>(kind);
    dc->hwnd = hwnd;
    dc->visible = visible;
    dc->palette = static_cast<HPALETTE>(ObjectTable::the().stock(DEFAULT_PALETTE));
    dc->brush = static_cast<HBRUSH>(ObjectTable::the().stock(WHITE_BRUSH));
    if (kind == DcKind::Memory)
        dc->bitmap = ObjectTable::the().stock_bitmap();
    HDC handle = static_cast<HDC>(add_object(std::move(dc)));
    DeviceContext* made = find_dc(handle);
    select_into(made->palette);
    select_into(made->brush);
    select_into(made->bitmap);
    return handle;
}

void delete_dc(HDC handle) {
    DeviceContext* dc = find_dc(handle);
    HGDIOBJ held[] = {dc->palette, dc->brush, dc->bitmap};
    ObjectTable::the().remove(handle);
    for (HGDIOBJ object : held)
        deselect(object);
}

} // namespace

Object* find_object(HGDIOBJ handle) {
    return ObjectTable::the().find(handle);
}
Bitmap* find_bitmap(HGDIOBJ handle) {
    return find_as<Bitmap>(handle, Kind::Bitmap);
}
Palette* find_palette(HGDIOBJ handle) {
    return find_as<Palette>(handle, Kind::Palette);
}
Brush* find_brush(HGDIOBJ handle) {
    return find_as<Brush>(handle, Kind::Brush);
}
DeviceContext* find_dc(HDC handle) {
    return find_as<DeviceContext>(handle, Kind::DeviceContext);
}

HGDIOBJ add_object(std::unique_ptr<Object> object) {
    return ObjectTable::the().add(std::move(object));
}

platform::Image* target_of(DeviceContext& dc) {
    switch (dc.dc_kind) {
    case DcKind::Window:
        return window_surface(dc.hwnd);
    case DcKind::Memory: {
        Bitmap* bitmap = find_bitmap(dc.bitmap);
        return bitmap ? &bitmap->image : nullptr;
    }
    case DcKind::Screen:
        return nullptr;
    }
    return nullptr;
}

RECT clip_of(DeviceContext& dc) {
    platform::Image* image = target_of(dc);
    if (dc.dc_kind == DcKind::Screen)
        return dc.visible;
    if (!image)
        return RECT{0, 0, 0, 0};
    RECT bounds{0, 0, image->width, image->height};
    return dc.dc_kind == DcKind::Window ? intersect(bounds, dc.visible) : bounds;
}

void drew(DeviceContext& dc) {
    if (dc.dc_kind == DcKind::Window)
        window_surface_changed(dc.hwnd);
}

std::vector<uint32_t> palette_colours(DeviceContext* dc) {
    std::vector<uint32_t> colours;
    Palette* palette = dc ? find_palette(dc->palette) : nullptr;
    if (!palette)
        palette = find_palette(ObjectTable::the().stock(DEFAULT_PALETTE));
    for (const PALETTEENTRY& e : palette->entries)
        colours.push_back((uint32_t(e.peRed) << 16) | (uint32_t(e.peGreen) << 8) | e.peBlue);
    return colours;
}

// A window context (or, for no window, the screen's) limited to `visible`.
HDC open_window_dc(HWND hwnd, const RECT& visible) {
    return new_dc(hwnd ? DcKind::Window : DcKind::Screen, hwnd, visible);
}

bool close_window_dc(HDC handle) {
    DeviceContext* dc = find_dc(handle);
    if (!dc || dc->dc_kind == DcKind::Memory)
        return false;
    delete_dc(handle);
    return true;
}

void fill_window_rect(HWND hwnd, const RECT& rect, HBRUSH brush) {
    Brush* b = find_brush(brush);
    platform::Image* image = window_surface(hwnd);
    if (!b || !b->colour || !image)
        return;
    RECT r = intersect(rect, RECT{0, 0, image->width, image->height});
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x)
            image->at(x, y) = *b->colour;
    window_surface_changed(hwnd);
}

} // namespace win32::gdi

using namespace win32::gdi;

extern "C" {

/* A context for a window's whole client area, or for the screen with no window. */
HDC WINAPI GetDC(HWND hwnd) {
    RECT visible{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (hwnd && !GetClientRect(hwnd, &visible))
        return nullptr;
    return open_window_dc(hwnd, visible);
}

/* Gives back a context from GetDC: 1, or 0 for any other handle. */
int WINAPI ReleaseDC(HWND, HDC hdc) {
    return close_window_dc(hdc) ? 1 : 0;
}

/* The stock brushes and DEFAULT_PALETTE; NULL for any other index. */
HGDIOBJ WINAPI GetStockObject(int object) {
    HGDIOBJ handle = ObjectTable::the().stock(object);
    if (!handle)
        SetLastError(ERROR_INVALID_PARAMETER);
    return handle;
}

/* A memory context with the stock 1 x 1 bitmap selected, compatible with `hdc` (or with the
 * screen for NULL). */
HDC WINAPI CreateCompatibleDC(HDC hdc) {
    if (hdc && !find_dc(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return new_dc(DcKind::Memory, nullptr, RECT{0, 0, 0, 0});
}

/* Deletes a memory context, releasing what it has selected. Window and screen contexts are
 * given back with ReleaseDC or EndPaint instead: FALSE. */
BOOL WINAPI DeleteDC(HDC hdc) {
    DeviceContext* dc = find_dc(hdc);
    if (!dc || dc->dc_kind != DcKind::Memory) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete_dc(hdc);
    return TRUE;
}

/* Selects a bitmap (memory contexts only; a bitmap lives in one context at a time) or a brush.
 * Returns the object it replaces, or NULL. Palettes go through SelectPalette. */
HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ object) {
    DeviceContext* dc = find_dc(hdc);
    Object* o = find_object(object);
    if (!dc || !o || o->delete_pending) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HGDIOBJ* slot = nullptr;
    if (o->kind == Kind::Bitmap) {
        bool already_here = dc->bitmap == object;
        if (dc->dc_kind != DcKind::Memory || (o->selections > 0 && !o->stock && !already_here)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        slot = reinterpret_cast<HGDIOBJ*>(&dc->bitmap);
    } else if (o->kind == Kind::Brush) {
        slot = reinterpret_cast<HGDIOBJ*>(&dc->brush);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HGDIOBJ previous = *slot;
    select_into(object);
    *slot = object;
    deselect(previous);
    return previous;
}

/* Deletes a bitmap, palette or brush. Stock objects stay (TRUE); an object selected into a
 * context is deleted once the last context lets go of it. */
BOOL WINAPI DeleteObject(HGDIOBJ object) {
    Object* o = find_object(object);
    if (!o || o->kind == Kind::DeviceContext || o->delete_pending) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (o->stock)
        return TRUE;
    if (o->selections > 0)
        o->delete_pending = true;
    else
        ObjectTable::the().remove(object);
    return TRUE;
}

/* BITMAP for a bitmap (32 bits a pixel, no bits pointer), the WORD entry count for a palette.
 * With no buffer, the size needed. 0 on failure. */
int WINAPI GetObjectA(HGDIOBJ object, int size, LPVOID buffer) {
    Object* o = find_object(object);
    if (!o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (Bitmap* bitmap = find_bitmap(object)) {
        if (!buffer)
            return int(sizeof(BITMAP));
        if (size < int(sizeof(BITMAP))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        BITMAP info{
            0, bitmap->image.width, bitmap->image.height, bitmap->image.width * 4, 1, 32, nullptr};
        *static_cast<BITMAP*>(buffer) = info;
        return int(sizeof(BITMAP));
    }
    if (Palette* palette = find_palette(object)) {
        if (!buffer)
            return int(sizeof(WORD));
        if (size < int(sizeof(WORD))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        *static_cast<WORD*>(buffer) = WORD(palette->entries.size());
        return int(sizeof(WORD));
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

/* A logical palette of version 0x300 with 1 to 65535 entries. */
HPALETTE WINAPI CreatePalette(const LOGPALETTE* palette) {
    if (!palette || palette->palVersion != 0x300 || palette->palNumEntries == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto made = std::make_unique<Palette>();
    made->entries.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
    return static_cast<HPALETTE>(add_object(std::move(made)));
}

/* Selects a palette into a context; returns the one it replaces, or NULL. The device shows true
 * colour, so the background flag changes nothing. */
HPALETTE WINAPI SelectPalette(HDC hdc, HPALETTE palette, BOOL forceBackground) {
    DeviceContext* dc = find_dc(hdc);
    Palette* p = find_palette(palette);
    if (!dc || !p || p->delete_pending) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HPALETTE previous = dc->palette;
    select_into(palette);
    dc->palette = palette;
    deselect(previous);
    return previous;
}

/* On a true-colour device every entry maps to its own colour: returns the entry count of the
 * selected palette, GDI_ERROR for a bad context. */
UINT WINAPI RealizePalette(HDC hdc) {
    DeviceContext* dc = find_dc(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return UINT(GDI_ERROR);
    }
    Palette* p = find_palette(dc->palette);
    return p ? UINT(p->entries.size()) : 0;
}

/* Copies entries [start, start + count) of a palette; with no buffer, returns the entry count.
 * Returns the number copied, 0 on failure. */
UINT WINAPI GetPaletteEntries(HPALETTE palette, UINT start, UINT count, LPPALETTEENTRY entries) {
    Palette* p = find_palette(palette);
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!entries)
        return UINT(p->entries.size());
    if (start >= p->entries.size())
        return 0;
    UINT n = std::min<UINT>(count, UINT(p->entries.size() - start));
    std::copy_n(p->entries.begin() + start, n, entries);
    return n;
}

/* A bitmap of the device's format (32 bits a pixel), black. Either size 0 gives the stock 1 x 1
 * bitmap; the bitmap fault switches apply. */
HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int width, int height) {
    if (!find_dc(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (width < 0 || height < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (width == 0 || height == 0)
        return ObjectTable::the().stock_bitmap();
    constexpr long long k_most_pixels = 1LL << 26;
    if ((long long)width * height > k_most_pixels ||
        !win32::faults::bitmap_creation_allowed(height)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return static_cast<HBITMAP>(add_object(std::make_unique<Bitmap>(width, height)));
}
}
