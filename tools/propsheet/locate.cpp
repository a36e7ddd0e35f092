// The data folder the sheet hands to the tests when no --data names one (locate.h).
#include "locate.h"

#include <cstdlib>
#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace propsheet {

namespace {

// The file every copy of the bundled data holds: the test window's default bitmap.
constexpr const char* kMarker = "kvxlogo.bmp";

bool holds_data(const fs::path& dir) {
    std::error_code ec;
    return fs::is_regular_file(dir / kMarker, ec);
}

bool has_blank(const std::string& text) {
    return text.find(' ') != std::string::npos;
}

#ifndef _WIN32
// XDG base directories: absolute entries only (the base directory rules call relative
// ones invalid); the defaults when the variable is unset or empty.
void add_xdg_dirs(std::vector<fs::path>& out, const EnvReader& env) {
    std::string home = env("XDG_DATA_HOME");
    if (home.empty() && fs::path(env("HOME")).is_absolute())
        home = env("HOME") + "/.local/share";
    if (fs::path(home).is_absolute())
        out.push_back(fs::path(home) / "wintest");
    std::string dirs = env("XDG_DATA_DIRS");
    if (dirs.empty())
        dirs = "/usr/local/share:/usr/share";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        fs::path dir = dirs.substr(start, end - start);
        if (dir.is_absolute())
            out.push_back(dir / "wintest");
        start = end + 1;
    }
}
#endif

} // namespace

std::string process_env(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

std::vector<fs::path> data_dir_candidates(const fs::path& executable_dir, const EnvReader& env) {
    std::vector<fs::path> out{executable_dir / ".." / "share" / "wintest", executable_dir / "data",
                              executable_dir / ".." / ".." / "data"};
#ifndef _WIN32
    add_xdg_dirs(out, env);
#endif
    return out;
}

std::string find_data_dir(const fs::path& executable_dir, const EnvReader& env) {
    if (std::string given = env("WINTEST_DATA"); !given.empty())
        return given;
    for (const fs::path& dir : data_dir_candidates(executable_dir, env)) {
        if (!holds_data(dir))
            continue;
        std::error_code ec;
        fs::path absolute = fs::weakly_canonical(dir, ec);
        return (ec ? dir : absolute).string();
    }
    return "data";
}

std::string without_blanks(const std::string& path, const fs::path& cwd) {
    if (!has_blank(path))
        return path;
#ifdef _WIN32
    char short_path[MAX_PATH];
    DWORD n = GetShortPathNameA(path.c_str(), short_path, sizeof short_path);
    if (n > 0 && n < sizeof short_path && !has_blank(short_path))
        return short_path;
#endif
    std::string relative = fs::path(path).lexically_relative(cwd).string();
    return relative.empty() || has_blank(relative) ? path : relative;
}

std::string default_data_dir(const fs::path& executable_dir) {
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    std::string dir = find_data_dir(executable_dir, process_env);
    return ec ? dir : without_blanks(dir, cwd);
}

} // namespace propsheet
