// The bitmap display's reader and loader over any bytes: the file read whole and its palette,
// the load into the test window with its device bitmap and paint, and the low-memory load
// painted in bands from the file. The window is made once and kept maximised, so that a load
// never resizes it to the picture; memory is held to a few hundred KB a banded load, so every
// input runs in a few milliseconds.
#include "fuzz_prefix.h"
#include "dib/dib.h"
#include "shell.h"

#include "win32/faults.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string g_path; // the input, written as a file in the fuzzer's own prefix
HWND g_window = nullptr;

// Pixels of the largest picture loaded whole (a device bitmap and a copy of it a paint), and
// of the largest painted in bands: the code is the same for any size, and a picture of
// 1 G pixels would only cost time.
constexpr unsigned long long k_most_whole_pixels = 1u << 14;
constexpr unsigned long long k_most_banded_pixels = 1u << 22;
// Band bitmaps taller than this fail at once, so that a band search never makes a bitmap of
// thousands of rows only to free it.
constexpr int k_tallest_band = 64;
// Global memory held at once otherwise: pictures of up to 8 MB of rows are read whole.
constexpr size_t k_memory = 8u << 20;

bool write_input(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(g_path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

// Reads the file whole and makes a palette of that block (a load makes it of the header
// block); LoadBitmapFile reads the file whole too.
void read_whole() {
    HGLOBAL dib = ReadDibFile(g_path.c_str());
    if (dib) {
        if (HPALETTE palette = CreateDibPalette(dib))
            DeleteObject(palette);
        GlobalFree(dib);
    }
}

// Reads the headers; gives their 40-byte form and the header block's size.
bool read_header(BITMAPINFOHEADER* info, SIZE_T* header_bytes) {
    OFSTRUCT of;
    HFILE file = OpenFile(g_path.c_str(), &of, OF_READ);
    HGLOBAL header = ReadDibHeader(file);
    if (file != HFILE_ERROR)
        _lclose(file);
    if (!header)
        return false;
    *header_bytes = GlobalSize(header);
    bool ok = GetDibInfo(header, info);
    GlobalFree(header);
    return ok;
}

// Paints the top-left corner of the window as WM_PAINT does (bands elsewhere are skipped),
// without erasing the rest of the window that the load invalidated.
void paint() {
    RECT corner{0, 0, 64, 64};
    ValidateRect(g_window, nullptr);
    InvalidateRect(g_window, &corner, FALSE);
    UpdateWindow(g_window);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string dir = make_fuzz_prefix();
    g_path = dir + "/in.bmp";
    if (!CreateTestWindow("Kavix Glide Test", nullptr, "missing.bmp"))
        std::abort();
    g_window = TestWindow;
    ShowWindow(g_window, SW_MAXIMIZE);
    win32::faults::set_global_memory_limit(k_memory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!write_input(data, size))
        std::abort();
    BITMAPINFOHEADER info;
    SIZE_T header_bytes = 0;
    if (!read_header(&info, &header_bytes))
        return 0;
    unsigned long long rows = info.biHeight < 0 ? 0ull - info.biHeight : info.biHeight;
    unsigned long long pixels = (unsigned long long)info.biWidth * rows;
    if (pixels <= k_most_whole_pixels) {
        read_whole();
        if (LoadBitmapFile(g_path.c_str(), g_window))
            paint();
        FreeBitmap();
    }
    if (pixels > k_most_banded_pixels)
        return 0;

    // Memory for the header block and half the rows (at most 256 KB): the whole image never
    // fits, a band may.
    SIZE_T half = info.biSizeImage / 2 < (256u << 10) ? info.biSizeImage / 2 : (256u << 10);
    win32::faults::set_global_memory_limit(win32::faults::global_memory_in_use() + header_bytes +
                                           half);
    win32::faults::fail_bitmaps_taller_than(k_tallest_band);
    if (LoadBitmapFile(g_path.c_str(), g_window))
        paint();
    FreeBitmap();
    win32::faults::fail_bitmaps_taller_than(std::nullopt);
    win32::faults::set_global_memory_limit(k_memory);
    return 0;
}
