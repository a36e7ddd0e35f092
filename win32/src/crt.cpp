// The C runtime's file opening, through the same path mapping as every other file the program
// opens. The program and everything linked with it are linked with `-Wl,--wrap=fopen`
// (wintest/CMakeLists.txt: wt_program_crt), so each call of fopen in their objects, std::fopen
// and fopen after any header included, lands here; the C library's own is __real_fopen.
#include <windows.h>

#include "platform/prefix.h"

extern "C" FILE* __real_fopen(const char* path, const char* mode);

// A host path that exists as written maps to itself, so the platform's own opens of host
// paths in the same program are unchanged.
extern "C" FILE* __wrap_fopen(const char* path, const char* mode) {
    if (!path)
        return nullptr;
    return __real_fopen(platform::map_path(path).c_str(), mode);
}
