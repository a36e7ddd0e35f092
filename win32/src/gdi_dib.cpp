// GDI device-independent bitmaps: SetDIBits, GetDIBits and CreateDIBitmap between packed DIB
// rows (1, 4, 8, 16, 24 and 32 bits, RLE8 and RLE4, bottom-up or top-down) and the device's
// 0x00RRGGBB bitmaps. The caller's rows carry no length: uncompressed rows are read as
// stride x rows bytes, run-length streams as biSizeImage bytes, and nothing past those.
#include "gdi_internal.h"

#include "win32/faults.h"

#include <bit>
#include <cstring>

namespace win32::gdi {

namespace {

// A channel of a bit-field pixel: where it sits and how wide it is.
struct Channel {
    uint32_t mask{0};
    int shift{0};
    uint32_t max{0};

    explicit Channel(uint32_t m = 0) : mask(m) {
        if (m) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    // The channel of `pixel` widened to 8 bits by repeating its bits (5 bits abcde become
    // abcdeabc), or cut to its top 8 bits when it is wider.
    [[nodiscard]] uint32_t value(uint32_t pixel) const {
        if (!max)
            return 0;
        uint32_t v = (pixel & mask) >> shift;
        int width = std::bit_width(max);
        if (width >= 8)
            return v >> (width - 8);
        uint32_t out = 0;
        int filled = 0;
        while (filled < 8) {
            out = (out << width) | v;
            filled += width;
        }
        return out >> (filled - 8);
    }
};

// What a BITMAPINFOHEADER says about the rows it describes.
struct Layout {
    int width{0};
    int height{0};
    bool top_down{false};
    int bits{0};
    DWORD compression{BI_RGB};
    size_t stride{0};
    Channel red, green, blue;
};

constexpr size_t k_most_row_bytes = size_t(1) << 30;

// Checks a header for something this device can draw; nullopt (and the last error) when not.
std::optional<Layout> layout_of(const BITMAPINFO* info) {
    if (!info || info->bmiHeader.biSize != sizeof(BITMAPINFOHEADER)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    const BITMAPINFOHEADER& h = info->bmiHeader;
    Layout l;
    l.bits = h.biBitCount;
    l.compression = h.biCompression;
    l.width = h.biWidth;
    l.top_down = h.biHeight < 0;
    l.height = h.biHeight == INT32_MIN ? 0 : (h.biHeight < 0 ? -h.biHeight : h.biHeight);
    bool format_ok = false;
    switch (l.compression) {
    case BI_RGB:
        format_ok = l.bits == 1 || l.bits == 4 || l.bits == 8 || l.bits == 16 || l.bits == 24 ||
                    l.bits == 32;
        break;
    case BI_RLE8:
        format_ok = l.bits == 8 && !l.top_down;
        break;
    case BI_RLE4:
        format_ok = l.bits == 4 && !l.top_down;
        break;
    case BI_BITFIELDS:
        format_ok = l.bits == 16 || l.bits == 32;
        break;
    }
    if (!format_ok || h.biPlanes != 1 || l.width <= 0 || l.height <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    uint64_t stride = ((uint64_t(l.bits) * uint64_t(l.width) + 31) / 32) * 4;
    if (stride > k_most_row_bytes) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return std::nullopt;
    }
    l.stride = size_t(stride);
    if (l.compression == BI_BITFIELDS) {
        uint32_t masks[3];
        std::memcpy(masks, info->bmiColors, sizeof masks);
        l.red = Channel(masks[0]);
        l.green = Channel(masks[1]);
        l.blue = Channel(masks[2]);
    } else if (l.bits == 16) {
        l.red = Channel(0x7C00);
        l.green = Channel(0x03E0);
        l.blue = Channel(0x001F);
    } else {
        l.red = Channel(0xFF0000);
        l.green = Channel(0x00FF00);
        l.blue = Channel(0x0000FF);
    }
    return l;
}

// The colours of a palette DIB's indices (all 2^bits of them; entries the table does not give
// are black). DIB_PAL_COLORS tables hold WORD indices into the context's palette.
std::optional<std::vector<uint32_t>> colour_table(const BITMAPINFO* info, const Layout& l,
                                                  UINT usage, DeviceContext* dc) {
    std::vector<uint32_t> table;
    if (l.bits > 8)
        return table;
    size_t size = size_t(1) << l.bits;
    table.assign(size, 0);
    size_t given = info->bmiHeader.biClrUsed ? info->bmiHeader.biClrUsed : size;
    given = std::min(given, size);
    if (usage == DIB_RGB_COLORS) {
        const RGBQUAD* quads = info->bmiColors;
        for (size_t i = 0; i < given; ++i)
            table[i] = (uint32_t(quads[i].rgbRed) << 16) | (uint32_t(quads[i].rgbGreen) << 8) |
                       quads[i].rgbBlue;
    } else if (usage == DIB_PAL_COLORS) {
        if (!dc) {
            SetLastError(ERROR_INVALID_HANDLE);
            return std::nullopt;
        }
        std::vector<uint32_t> palette = palette_colours(dc);
        const WORD* indices = reinterpret_cast<const WORD*>(info->bmiColors);
        for (size_t i = 0; i < given; ++i)
            table[i] = indices[i] < palette.size() ? palette[indices[i]] : 0;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    return table;
}

// Decodes one uncompressed row into `out` (l.width pixels).
void decode_row(const BYTE* row, const Layout& l, const std::vector<uint32_t>& table,
                uint32_t* out) {
    for (int x = 0; x < l.width; ++x) {
        uint32_t pixel = 0;
        switch (l.bits) {
        case 1:
            pixel = table[(row[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            pixel = table[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF];
            break;
        case 8:
            pixel = table[row[x]];
            break;
        case 16: {
            uint32_t v = uint32_t(row[2 * x]) | (uint32_t(row[2 * x + 1]) << 8);
            pixel = (l.red.value(v) << 16) | (l.green.value(v) << 8) | l.blue.value(v);
            break;
        }
        case 24:
            pixel = (uint32_t(row[3 * x + 2]) << 16) | (uint32_t(row[3 * x + 1]) << 8) | row[3 * x];
            break;
        case 32: {
            uint32_t v;
            std::memcpy(&v, row + 4 * size_t(x), 4);
            pixel = (l.red.value(v) << 16) | (l.green.value(v) << 8) | l.blue.value(v);
            break;
        }
        }
        out[x] = pixel;
    }
}

// Decodes a run-length stream of `size` bytes into palette indices, bottom row first. Pixels
// the stream never sets stay -1 (left as they were). Runs past the row end are cut, a delta
// or an end of the stream past the picture stops it; nothing is read past `size`.
std::vector<int> decode_rle(const BYTE* data, size_t size, const Layout& l) {
    std::vector<int> indices(size_t(l.width) * l.height, -1);
    const bool four = l.bits == 4;
    size_t at = 0;
    long x = 0, y = 0; // y counts rows from the bottom
    auto put = [&](int index) {
        if (x < l.width && y < l.height)
            indices[size_t(y) * l.width + x] = index;
        ++x;
    };
    while (at + 2 <= size && y < l.height) {
        BYTE count = data[at], value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < l.width; ++i)
                put(four ? ((i & 1) ? value & 0xF : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // delta
            if (at + 2 > size)
                break;
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else { // absolute run of `value` pixels, padded to a 16-bit boundary
            size_t bytes = four ? (size_t(value) + 1) / 2 : value;
            if (at + bytes > size)
                break;
            for (int i = 0; i < value; ++i) {
                BYTE b = data[at + (four ? size_t(i) / 2 : size_t(i))];
                if (x < l.width)
                    put(four ? ((i & 1) ? b & 0xF : b >> 4) : b);
            }
            at += (bytes + 1) & ~size_t(1);
        }
    }
    return indices;
}

// Writes DIB scan lines [start, start + lines) into `bitmap`; returns the count written or 0.
int set_rows(DeviceContext* dc, Bitmap& bitmap, UINT start, UINT lines, const void* bits,
             const BITMAPINFO* info, UINT usage) {
    auto layout = layout_of(info);
    if (!layout)
        return 0;
    const Layout& l = *layout;
    if (!bits) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto table = colour_table(info, l, usage, dc);
    if (!table)
        return 0;
    if (start >= UINT(l.height))
        return 0;
    UINT end = UINT(std::min<uint64_t>(uint64_t(start) + lines, uint64_t(l.height)));
    platform::Image& image = bitmap.image;
    int columns = std::min(l.width, image.width);
    // Scan line s lands on bitmap row `row_of(s)`: the DIB's top-left on the bitmap's.
    auto row_of = [&](UINT s) { return l.top_down ? long(s) : long(l.height) - 1 - long(s); };

    if (l.compression == BI_RLE8 || l.compression == BI_RLE4) {
        size_t size = info->bmiHeader.biSizeImage;
        if (size == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        std::vector<int> indices = decode_rle(static_cast<const BYTE*>(bits), size, l);
        for (UINT s = start; s < end; ++s) {
            long y = row_of(s);
            if (y >= image.height)
                continue;
            for (int x = 0; x < columns; ++x) {
                int index = indices[size_t(s) * l.width + x];
                if (index >= 0)
                    image.at(x, int(y)) = (*table)[size_t(index)];
            }
        }
        return int(end - start);
    }

    std::vector<uint32_t> row(size_t(l.width));
    const BYTE* source = static_cast<const BYTE*>(bits);
    for (UINT s = start; s < end; ++s) {
        long y = row_of(s);
        if (y >= image.height)
            continue;
        decode_row(source + size_t(s - start) * l.stride, l, *table, row.data());
        std::memcpy(&image.at(0, int(y)), row.data(), size_t(columns) * 4);
    }
    return int(end - start);
}

// The closest of `table` to `pixel` (squared distance), for palette DIBs read back.
int closest(const std::vector<uint32_t>& table, uint32_t pixel) {
    int best = 0;
    long best_distance = -1;
    for (size_t i = 0; i < table.size(); ++i) {
        long dr = long((table[i] >> 16) & 0xFF) - long((pixel >> 16) & 0xFF);
        long dg = long((table[i] >> 8) & 0xFF) - long((pixel >> 8) & 0xFF);
        long db = long(table[i] & 0xFF) - long(pixel & 0xFF);
        long d = dr * dr + dg * dg + db * db;
        if (best_distance < 0 || d < best_distance) {
            best = int(i);
            best_distance = d;
        }
    }
    return best;
}

// Packs `pixel` into the channel bits of a bit-field DIB.
uint32_t pack(uint32_t pixel, const Layout& l) {
    auto part = [](const Channel& c, uint32_t v8) {
        return c.max ? ((uint32_t((uint64_t(v8) * c.max + 127) / 255) << c.shift) & c.mask) : 0;
    };
    return part(l.red, (pixel >> 16) & 0xFF) | part(l.green, (pixel >> 8) & 0xFF) |
           part(l.blue, pixel & 0xFF);
}

// Encodes one bitmap row into DIB row bytes.
void encode_row(const uint32_t* pixels, const Layout& l, const std::vector<uint32_t>& table,
                BYTE* row) {
    std::memset(row, 0, l.stride);
    for (int x = 0; x < l.width; ++x) {
        uint32_t p = pixels[x];
        switch (l.bits) {
        case 1:
            row[x >> 3] |= BYTE(closest(table, p) << (7 - (x & 7)));
            break;
        case 4:
            row[x >> 1] |= BYTE(closest(table, p) << ((x & 1) ? 0 : 4));
            break;
        case 8:
            row[x] = BYTE(closest(table, p));
            break;
        case 16: {
            uint32_t v = pack(p, l);
            row[2 * x] = BYTE(v);
            row[2 * x + 1] = BYTE(v >> 8);
            break;
        }
        case 24:
            row[3 * x] = BYTE(p);
            row[3 * x + 1] = BYTE(p >> 8);
            row[3 * x + 2] = BYTE(p >> 16);
            break;
        case 32: {
            uint32_t v = pack(p, l);
            std::memcpy(row + 4 * size_t(x), &v, 4);
            break;
        }
        }
    }
}

// The colour table GetDIBits hands out for a palette DIB: black and white for 1 bit, else the
// context's palette (cut or padded with black to 2^bits entries).
std::vector<uint32_t> table_for_reading(DeviceContext* dc, int bits) {
    if (bits == 1)
        return {0x000000, 0xFFFFFF};
    std::vector<uint32_t> table = palette_colours(dc);
    table.resize(size_t(1) << bits, 0);
    return table;
}

} // namespace

} // namespace win32::gdi

using namespace win32::gdi;

extern "C" {

/* Sets scan lines of a device bitmap from DIB rows; returns the number of lines set, 0 on
 * failure. DIB_PAL_COLORS tables index the palette selected into `hdc`. */
int WINAPI SetDIBits(HDC hdc, HBITMAP bitmap, UINT startScan, UINT scanLines, LPCVOID bits,
                     const BITMAPINFO* info, UINT usage) {
    Bitmap* target = find_bitmap(bitmap);
    DeviceContext* dc = find_dc(hdc);
    if (!target || (hdc && !dc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!win32::faults::set_dibits_allowed()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return set_rows(dc, *target, startScan, scanLines, bits, info, usage);
}

/* A device bitmap of the header's size, filled from the DIB rows with CBM_INIT. NULL when the
 * rows cannot be read or the bitmap fault switches refuse it. */
HBITMAP WINAPI CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* header, DWORD init, LPCVOID bits,
                              const BITMAPINFO* info, UINT usage) {
    DeviceContext* dc = find_dc(hdc);
    if (hdc && !dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!header || header->biWidth <= 0 || header->biHeight == 0 || header->biHeight == INT32_MIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    int width = header->biWidth;
    int height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    constexpr long long k_most_pixels = 1LL << 26;
    if ((long long)width * height > k_most_pixels ||
        !win32::faults::bitmap_creation_allowed(height)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto made = std::make_unique<Bitmap>(width, height);
    if ((init & CBM_INIT) && set_rows(dc, *made, 0, UINT(height), bits, info, usage) == 0)
        return nullptr;
    return static_cast<HBITMAP>(add_object(std::move(made)));
}

/* Reads scan lines of a device bitmap as DIB rows in the format `info` asks for (1, 4, 8, 16,
 * 24 or 32 bits, BI_RGB or BI_BITFIELDS). With no rows buffer and a bit count of 0 it fills the
 * header with the bitmap's own format. Returns the lines read (or nonzero for a header query),
 * 0 on failure. */
int WINAPI GetDIBits(HDC hdc, HBITMAP bitmap, UINT startScan, UINT scanLines, LPVOID bits,
                     LPBITMAPINFO info, UINT usage) {
    Bitmap* source = find_bitmap(bitmap);
    DeviceContext* dc = find_dc(hdc);
    if (!source || !dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!info || info->bmiHeader.biSize != sizeof(BITMAPINFOHEADER) ||
        (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    BITMAPINFOHEADER& h = info->bmiHeader;
    const platform::Image& image = source->image;
    if (!bits && h.biBitCount == 0) {
        h.biWidth = image.width;
        h.biHeight = image.height;
        h.biPlanes = 1;
        h.biBitCount = 32;
        h.biCompression = BI_RGB;
        h.biSizeImage = DWORD(image.width) * 4 * DWORD(image.height);
        return 1;
    }
    auto layout = layout_of(info);
    if (!layout || layout->compression == BI_RLE8 || layout->compression == BI_RLE4) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Layout& l = *layout;
    std::vector<uint32_t> table;
    if (l.bits <= 8) {
        table = table_for_reading(dc, l.bits);
        for (size_t i = 0; i < table.size(); ++i) {
            if (usage == DIB_PAL_COLORS) {
                reinterpret_cast<WORD*>(info->bmiColors)[i] = WORD(i);
            } else {
                info->bmiColors[i] =
                    RGBQUAD{BYTE(table[i]), BYTE(table[i] >> 8), BYTE(table[i] >> 16), 0};
            }
        }
    }
    if (h.biSizeImage == 0 && h.biCompression == BI_RGB)
        h.biSizeImage = DWORD(l.stride * size_t(l.height));
    if (!bits)
        return 1;
    if (startScan >= UINT(l.height))
        return 0;
    UINT end = UINT(std::min<uint64_t>(uint64_t(startScan) + scanLines, uint64_t(l.height)));
    std::vector<uint32_t> row(size_t(l.width), 0);
    for (UINT s = startScan; s < end; ++s) {
        long y = l.top_down ? long(s) : long(l.height) - 1 - long(s);
        std::fill(row.begin(), row.end(), 0);
        if (y < image.height)
            std::memcpy(row.data(), image.pixels.data() + size_t(y) * image.width,
                        size_t(std::min(l.width, image.width)) * 4);
        encode_row(row.data(), l, table,
                   static_cast<BYTE*>(bits) + size_t(s - startScan) * l.stride);
    }
    return int(end - startScan);
}
}
