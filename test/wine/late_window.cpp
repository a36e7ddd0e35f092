// late_window: a program whose window is made some time before it is shown, as a program's
// window is while it starts. Its exit code tells how its first B key arrived: 0 with Shift held
// as GetKeyState sees it (real input), 3 without; 2 when no B came within 20 seconds.
#include <windows.h>

namespace {

constexpr UINT_PTR k_show_timer = 1;
constexpr UINT k_hidden_ms = 500;

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_TIMER:
        KillTimer(window, k_show_timer);
        ShowWindow(window, SW_SHOW);
        return 0;
    case WM_KEYDOWN:
        if (wparam == 'B')
            ExitProcess((GetKeyState(VK_SHIFT) & 0x8000) ? 0 : 3);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

} // namespace

int main() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "WinGlideClass"; // the class that the driver looks for
    if (!RegisterClassA(&wc))
        return 1;
    HWND window = CreateWindowExA(0, wc.lpszClassName, "late window", WS_OVERLAPPEDWINDOW, 0, 0,
                                  200, 100, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window || !SetTimer(window, k_show_timer, k_hidden_ms, nullptr))
        return 1;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 20000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return 2;
}
