#include "retrace_win32.h"

#include <windows.h>

#include <timeapi.h>

namespace board {

void use_fine_timer() {
    timeBeginPeriod(1);
}

} // namespace board
