// The prefix and the environment on Windows. The program's paths are real Windows paths
// here, so map_path only hands them on; the prefix (the board lock, pictures asked for by
// tests) is WINTEST_PREFIX, else %LOCALAPPDATA%\wintest, else %TEMP%\wintest.
#include "platform/prefix.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <strings.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string compute_prefix() {
    std::string dir = env_string("WINTEST_PREFIX");
    if (dir.empty()) {
        std::string base = env_string("LOCALAPPDATA");
        if (base.empty())
            base = env_string("TEMP", ".");
        dir = base + "\\wintest";
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

} // namespace

const std::string& prefix_dir() {
    static const std::string s_prefix = compute_prefix();
    return s_prefix;
}

std::string prefix_path(std::string_view relative) {
    fs::path p = fs::path(prefix_dir()) / fs::path(relative);
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    return p.string();
}

std::string map_path(std::string_view windows_path) {
    return std::string(windows_path); // the file system matches names without case already
}

} // namespace platform
