// Start-up code of a Windows GUI program on this platform: builds the command-line tail from
// argv the way the Windows start-up code hands it to WinMain, and calls WinMain.
#include <windows.h>

#include "win32/startup.h"

int main(int argc, char** argv) {
    return win32::run_winmain(argc, argv, WinMain);
}
