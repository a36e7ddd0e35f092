// The thread's last error code (GetLastError / SetLastError).
#include <windows.h>

namespace {
thread_local DWORD t_last_error = ERROR_SUCCESS;
}

extern "C" {

DWORD WINAPI GetLastError(void) {
    return t_last_error;
}

void WINAPI SetLastError(DWORD code) {
    t_last_error = code;
}
}
