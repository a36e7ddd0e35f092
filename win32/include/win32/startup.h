// Start-up of a Windows program on this platform.
#pragma once

#include <windows.h>

namespace win32 {

using WinMainProc = int(WINAPI*)(HINSTANCE, HINSTANCE, LPSTR, int);

// Builds the command-line tail and calls win_main; returns its result as the exit code.
// The tail is WINTEST_COMMAND_LINE when that is set (every byte as given, so a controller can
// pass runs of spaces, tabs and quotes exactly), else argv[1..] joined by single spaces.
int run_winmain(int argc, char** argv, WinMainProc win_main);

} // namespace win32
