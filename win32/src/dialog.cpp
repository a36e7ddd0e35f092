// Message boxes, beeps, debug strings and the small KERNEL services: last error, time.
#include "user.h"

#include "display.h"
#include "platform/events.h"
#include "platform/prefix.h"

#include <chrono>
#include <cstdio>
#include <thread>

using namespace win32;

namespace {

thread_local DWORD t_last_error = 0;

} // namespace

extern "C" {

DWORD WINAPI GetLastError(void) {
    return t_last_error;
}

void WINAPI SetLastError(DWORD code) {
    t_last_error = code;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    platform::Event e;
    e.kind = platform::EventKind::Box;
    e.text = text ? text : "";
    e.caption = caption ? caption : "Error"; // the system's caption when none is given
    platform::emit(e);
    // A modal box runs its own loop: whatever is pending for the thread is dispatched
    // while it is up.
    MSG msg;
    int answer = display().message_box(owner, e.text, e.caption, type);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return answer;
}

BOOL WINAPI MessageBeep(UINT type) {
    platform::Event e;
    e.kind = platform::EventKind::Beep;
    e.code = int(type);
    platform::emit(e);
    display().beep(type);
    return TRUE;
}

void WINAPI OutputDebugStringA(LPCSTR text) {
    platform::Event e;
    e.kind = platform::EventKind::Debug;
    e.text = text ? text : "";
    platform::emit(e);
    if (platform::env_flag("WINTEST_DEBUG", false))
        fputs(e.text.c_str(), stderr);
}

void WINAPI Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD WINAPI GetTickCount(void) {
    using namespace std::chrono;
    return DWORD(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // extern "C"
