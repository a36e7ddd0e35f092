// The entry of glide2x.dll: starts the thread of the board's screen window and the telling of
// the extensions' calls to a watching controller.
#include "observer_win32.h"
#include "screen_win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        board::start_telling_observers();
        board::start_screen(instance);
    }
    return TRUE;
}
