// The parts of the C runtime that take the program's Windows paths.
#include <windows.h>

#include "platform/prefix.h"

#undef fopen

#include <cstdio>

extern "C" FILE* wintest_fopen(const char* path, const char* mode) {
    if (!path || !mode)
        return nullptr;
    return std::fopen(platform::map_path(path).c_str(), mode);
}
