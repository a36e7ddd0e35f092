// The prefix folder, the same on every system; only its default differs.
#include "platform/prefix.h"

#include <filesystem>

namespace platform {

namespace fs = std::filesystem;

std::string default_prefix_dir(); // prefix.cpp or win/prefix_win32.cpp

const std::string& prefix_dir() {
    static const std::string s_prefix = [] {
        std::string dir = env_string("WINTEST_PREFIX");
        if (dir.empty())
            dir = default_prefix_dir();
        std::error_code ec;
        fs::create_directories(dir, ec);
        return dir;
    }();
    return s_prefix;
}

std::string prefix_path(std::string_view relative) {
    fs::path p = fs::path(prefix_dir()) / fs::path(relative);
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    return p.string();
}

} // namespace platform
