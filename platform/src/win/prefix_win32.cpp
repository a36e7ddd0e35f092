// The prefix and the environment on Windows. The program's paths are real Windows paths
// here, so map_path only hands them on; the prefix (the board lock, pictures asked for by
// tests) is WINTEST_PREFIX, else %LOCALAPPDATA%\wintest, else %TEMP%\wintest.
#include "platform/prefix.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <strings.h>

namespace platform {

// The default prefix: %LOCALAPPDATA%\wintest, else %TEMP%\wintest.
std::string default_prefix_dir() {
    std::string base = env_string("LOCALAPPDATA");
    if (base.empty())
        base = env_string("TEMP", ".");
    return base + "\\wintest";
}

std::string map_path(std::string_view windows_path) {
    return std::string(windows_path); // the file system matches names without case already
}

} // namespace platform
