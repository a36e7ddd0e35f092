#include "win32/startup.h"

#include "display.h"

#include <cstdlib>
#include <string>

namespace win32 {

int run_winmain(int argc, char** argv, WinMainProc win_main) {
    std::string tail;
    if (const char* exact = std::getenv("WINTEST_COMMAND_LINE")) {
        // The start-up code skips the blanks between the program name and the tail.
        tail = exact;
        tail.erase(0, tail.find_first_not_of(" \t"));
        unsetenv("WINTEST_COMMAND_LINE"); // not inherited by programs this one starts
    } else {
        started_by_hand();
        for (int i = 1; i < argc; ++i) {
            if (i > 1)
                tail += ' ';
            tail += argv[i];
        }
    }
    return win_main(GetModuleHandleA(nullptr), nullptr, tail.data(), SW_SHOWNORMAL);
}

} // namespace win32
