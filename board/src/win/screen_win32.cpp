// The board's screen on Windows. A thread of the board owns a top-level window with a client
// area of the board's size. It follows the board by looking at it once per retrace: shown
// (without taking the focus from the program's window) while the board is open, repainted
// when a frame was swapped, hidden after grGlideShutdown. Painting goes through GDI
// (StretchDIBits) from the picture that the board shows, gamma tables applied. The window
// also answers the requests of screen_protocol.h, so a controller can read the board.
#include "screen_win32.h"

#include "board.h"
#include "board_harness.h"
#include "platform/image.h"
#include "retrace_win32.h"
#include "screen_follow.h"
#include "screen_protocol.h"

#include <cstdio>
#include <string>

namespace board {

namespace {

constexpr DWORD k_poll_ms = 16;             // about one retrace of the 60 Hz clock
constexpr DWORD k_follow_timeout_ms = 5000; // only a stuck thread takes it
constexpr DWORD k_style = WS_OVERLAPPED | WS_CAPTION;
constexpr DWORD k_ex_style = WS_EX_NOACTIVATE;

// The screen; only its thread touches these.
struct ScreenState {
    HINSTANCE instance{nullptr};
    HWND window{nullptr};
    bool shown{false};
    uint64_t frames_painted{~uint64_t(0)};
};
ScreenState s_screen;

// The request of screen_follow_closed_board and its answer (auto-reset events, made before the
// thread starts), and the thread.
HANDLE s_follow_now = nullptr;
HANDLE s_followed = nullptr;
HANDLE s_thread = nullptr;
DWORD s_thread_id = 0;

// Draws the board's picture over the whole client area of the device context.
void paint_picture(HWND window, HDC dc) {
    platform::Image picture = screen_image();
    RECT client;
    GetClientRect(window, &client);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height; // rows top to bottom
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32; // 0x00RRGGBB is B, G, R, 0 in memory
    info.bmiHeader.biCompression = BI_RGB;
    StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, picture.width, picture.height,
                  picture.pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}

// Writes the board's state as text (see screen_protocol.h).
bool write_state(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    auto g = gamma();
    auto tv = tv_record();
    std::fprintf(file, "open %d\nframes %llu\ngamma %.3f %.3f %.3f\ntv", is_open() ? 1 : 0,
                 static_cast<unsigned long long>(frame_count()), g[0], g[1], g[2]);
    for (int32_t field : tv)
        std::fprintf(file, " %ld", static_cast<long>(field));
    std::fprintf(file, "\n");
    return std::fclose(file) == 0;
}

// Carries out one WM_COPYDATA request; TRUE when its file was written.
LRESULT answer_request(const COPYDATASTRUCT* data) {
    if (!data || data->dwData != k_screen_request || !data->lpData || data->cbData == 0)
        return FALSE;
    std::string text(static_cast<const char*>(data->lpData), data->cbData);
    text = text.c_str(); // up to a NUL the sender may have included
    size_t space = text.find(' ');
    if (space == std::string::npos || space + 1 >= text.size())
        return FALSE;
    std::string what = text.substr(0, space);
    std::string path = text.substr(space + 1);
    if (what == "screen")
        return save_pngs(path, "") ? TRUE : FALSE;
    if (what == "tv")
        return save_pngs("", path) ? TRUE : FALSE;
    if (what == "tv0" || what == "tv1") // one field of the TV view
        return platform::write_png(path, tv_image(what == "tv0" ? 0 : 1)) ? TRUE : FALSE;
    if (what == "state")
        return write_state(path) ? TRUE : FALSE;
    return FALSE;
}

LRESULT CALLBACK screen_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        paint_picture(window, dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_PRINTCLIENT:
        paint_picture(window, reinterpret_cast<HDC>(wparam));
        return 0;
    case WM_ERASEBKGND:
        return 1; // the picture covers the whole client area
    case WM_CLOSE:
        return 0; // the board's output cannot be closed
    case WM_COPYDATA:
        return answer_request(reinterpret_cast<const COPYDATASTRUCT*>(lparam));
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

// Makes the window, hidden, at the right edge of the desktop with a client area of the
// board's size.
bool create_window() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = screen_window_proc;
    wc.hInstance = s_screen.instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = k_screen_class;
    if (!RegisterClassA(&wc))
        return false;
    RECT frame{0, 0, int(FrameBuffer::k_width), int(FrameBuffer::k_height)};
    AdjustWindowRectEx(&frame, k_style, FALSE, k_ex_style);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    int x = GetSystemMetrics(SM_CXSCREEN) - width;
    s_screen.window =
        CreateWindowExA(k_ex_style, k_screen_class, k_screen_title, k_style, x < 0 ? 0 : x, 0,
                        width, height, nullptr, nullptr, s_screen.instance, nullptr);
    return s_screen.window != nullptr;
}

// Follows the board: shows, repaints or hides the window.
void follow_board() {
    bool open = is_open();
    if (open && !s_screen.window && !create_window())
        return;
    if (!s_screen.window)
        return;
    if (open != s_screen.shown) {
        ShowWindow(s_screen.window, open ? SW_SHOWNOACTIVATE : SW_HIDE);
        s_screen.shown = open;
        s_screen.frames_painted = ~uint64_t(0);
    }
    uint64_t frames = frame_count();
    if (open && frames != s_screen.frames_painted) {
        InvalidateRect(s_screen.window, nullptr, FALSE);
        UpdateWindow(s_screen.window);
        s_screen.frames_painted = frames;
    }
}

DWORD WINAPI screen_thread(void*) {
    use_fine_timer();
    for (;;) {
        const DWORD woke =
            MsgWaitForMultipleObjects(1, &s_follow_now, FALSE, k_poll_ms, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        follow_board();
        if (woke == WAIT_OBJECT_0)
            SetEvent(s_followed);
    }
}

} // namespace

void start_screen(HINSTANCE instance) {
    s_screen.instance = instance;
    s_follow_now = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    s_followed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!s_follow_now || !s_followed)
        return;
    s_thread = CreateThread(nullptr, 0, screen_thread, nullptr, 0, &s_thread_id);
}

void screen_follow_closed_board() {
    if (!s_thread || GetCurrentThreadId() == s_thread_id)
        return;
    ResetEvent(s_followed);
    SetEvent(s_follow_now);
    // Messages that the screen's window work sends to this thread's windows are answered
    // while waiting; posted messages stay queued for the program. A thread that has ended (at
    // the exit of the process) answers nothing: its handle is signalled.
    const HANDLE answers[2] = {s_followed, s_thread};
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= k_follow_timeout_ms)
            return;
        const DWORD woke = MsgWaitForMultipleObjects(2, answers, FALSE, k_follow_timeout_ms - spent,
                                                     QS_SENDMESSAGE);
        if (woke != WAIT_OBJECT_0 + 2)
            return; // answered, ended, timed out or failed
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace board
