// A small windowed program for the desktop bus tests: it joins the desktop with one window
// and behaves as its command line says.
//
//   echo <title>     answers "Test Ping" with "Test Pong" (wParam + 1) inside the broadcast
//   deaf <title>     creates its window, then never retrieves a message again
//   chatty <title>   like echo, and broadcasts "Test Chatter" about every millisecond
//   die-on <name>    like echo, and kills itself while handling the registered message <name>
//
// Every peer reports its command-line tail as its first debug string, reports keys and
// display changes as debug strings, shows a message box on "Test Box", ends with wParam as
// the exit code on "Test Quit", kills itself on "Test Die" with its pid as wParam (in the middle of
// the broadcast) and ends with code 7 when its window is closed.
#include <windows.h>

#include "win32/startup.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

UINT g_ping, g_pong, g_quit, g_die, g_box, g_chatter;
UINT g_fatal; // die-on: the message that kills this peer

void debug(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[128];
    snprintf(text, sizeof text, format, a, b, c);
    OutputDebugStringA(text);
}

LRESULT CALLBACK PeerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        debug(msg == WM_KEYDOWN ? "keydown %02x repeat %u shift %u"
                                : "syskeydown %02x repeat %u shift %u",
              unsigned(wParam), unsigned((lParam >> 30) & 1),
              (GetKeyState(VK_SHIFT) & 0x8000) ? 1u : 0u);
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        debug(msg == WM_KEYUP ? "keyup %02x" : "syskeyup %02x", unsigned(wParam));
        return 0;
    case WM_DISPLAYCHANGE:
        debug("displaychange %u %u", LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_CLOSE:
        exit(7);
    default:
        break;
    }
    if (msg == 0)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == g_ping)
        SendMessageA(HWND_BROADCAST, g_pong, wParam + 1, lParam);
    else if (msg == g_quit)
        exit(int(wParam));
    else if (msg == g_fatal)
        raise(SIGKILL);
    else if (msg == g_die && wParam == WPARAM(getpid()))
        raise(SIGKILL);
    else if (msg == g_box)
        MessageBoxA(hwnd, "Two  spaces\nand a line", "Peer Caption", MB_OK);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int) {
    // Registered in another order than the tests do, so that the numbers differ.
    g_chatter = RegisterWindowMessageA("Test Chatter");
    g_box = RegisterWindowMessageA("Test Box");
    g_die = RegisterWindowMessageA("Test Die");
    g_quit = RegisterWindowMessageA("Test Quit");
    g_pong = RegisterWindowMessageA("Test Pong");
    g_ping = RegisterWindowMessageA("Test Ping");

    std::string line = tail ? tail : "";
    std::string mode = line.substr(0, line.find(' '));
    std::string title = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);

    WNDCLASSA wc{};
    wc.lpfnWndProc = PeerProc;
    wc.hInstance = instance;
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = "PeerClass";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "PeerClass", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                                20, 240, 160, nullptr, nullptr, instance, nullptr);
    if (!hwnd)
        return 2;
    if (mode == "die-on")
        g_fatal = RegisterWindowMessageA(title.c_str());
    OutputDebugStringA(line.c_str());

    if (mode == "deaf") {
        for (;;)
            pause();
    }
    MSG msg;
    if (mode != "chatty") {
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        return 0;
    }
    auto next_chatter = std::chrono::steady_clock::now();
    for (;;) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (std::chrono::steady_clock::now() >= next_chatter) {
            SendMessageA(HWND_BROADCAST, g_chatter, 0, 0);
            next_chatter += std::chrono::milliseconds(1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

int main(int argc, char** argv) {
    return win32::run_winmain(argc, argv, WinMain);
}
