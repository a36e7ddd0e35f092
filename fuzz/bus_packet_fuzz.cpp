// The desktop bus's packet decoder: each input is one datagram from another process of this
// user, taken through the receiver's own path (bus::receive_datagram) into a real window of
// the Win32 subset, whose queue then runs what it asked for. The process is not on the
// desktop, so nothing is answered and no other process is reached.
#include <windows.h>

#include "bus/bus.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::string g_prefix; // the one folder a picture request may name

LRESULT CALLBACK FuzzProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A prefix of its own, no display, off the desktop; the names the seeds use registered.
void set_up() {
    char dir[] = "/tmp/bus_packet_fuzz_XXXXXX";
    if (!mkdtemp(dir))
        abort();
    g_prefix = dir;
    setenv("WINTEST_PREFIX", dir, 1);
    setenv("WINTEST_DISPLAY", "headless", 1);
    setenv("WINTEST_BUS", "0", 1);
    RegisterWindowMessageA("Test Ping");
    RegisterWindowMessageA("Test Pong");
    RegisterWindowMessageA("Test Die");
    WNDCLASSA wc{};
    wc.lpfnWndProc = FuzzProc;
    wc.hbrBackground = HBRUSH(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "FuzzClass";
    RegisterClassA(&wc);
}

// The window the packets reach (the first one has handle 0x10020); made again when a packet
// closed it.
void ensure_window() {
    static HWND s_window = nullptr;
    if (s_window && IsWindow(s_window))
        return;
    s_window = CreateWindowExA(0, "FuzzClass", "fuzz", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 20,
                               240, 160, nullptr, nullptr, nullptr, nullptr);
}

uint32_t le(const uint8_t* p, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= uint32_t(p[i]) << (8 * i);
    return v;
}

// A picture request writes a file: only into the prefix, never elsewhere on this machine.
// (A path that is not absolute is refused by the program itself.)
bool writes_outside(const uint8_t* data, size_t size) {
    constexpr size_t kHeader = 24, kPath = kHeader + 2 + 1 + 8;
    if (size < kPath + 4 || le(data + 8, 2) != 3 || le(data + kHeader, 2) != 4)
        return false; // not a picture request
    size_t length = le(data + kPath, 4);
    std::string path(reinterpret_cast<const char*>(data + kPath + 4),
                     std::min(length, size - kPath - 4));
    if (path.empty() || path[0] != '/')
        return false; // refused by the program before any file is touched
    return !path.starts_with(g_prefix + "/") || path.find("..") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool s_ready = (set_up(), true);
    (void)s_ready;
    if (writes_outside(data, size))
        return 0;
    ensure_window();
    bus::receive_datagram({data, size}, getuid(), getgid());
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    return 0;
}
