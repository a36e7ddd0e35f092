// The C runtime's file opening, through the same path mapping as every other file the
// program opens.
#include <windows.h>

#include "platform/prefix.h"

#undef fopen

extern "C" FILE* wintest_fopen(const char* path, const char* mode) {
    if (!path)
        return nullptr;
    return fopen(platform::map_path(path).c_str(), mode);
}
