#include "platform/prefix.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace platform {

namespace fs = std::filesystem;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The entry of `dir` whose name equals `name` ignoring ASCII case, or `name` when none does.
std::string match_component(const std::string& dir, const std::string& name) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return name;
    std::string found = name;
    while (dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

} // namespace

// The default prefix: $XDG_STATE_HOME/wintest, else ~/.local/state/wintest.
std::string default_prefix_dir() {
    std::string state = env_string("XDG_STATE_HOME");
    if (state.empty())
        state = env_string("HOME", "/tmp") + "/.local/state";
    return state + "/wintest";
}

std::string map_path(std::string_view windows_path) {
    std::string path(windows_path);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    std::string result;
    size_t pos = 0;
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
        char drive = char(std::tolower(static_cast<unsigned char>(path[0])));
        result = prefix_dir() + "/drive_" + drive + "/";
        pos = 2;
        while (pos < path.size() && path[pos] == '/')
            ++pos;
    } else if (!path.empty() && path[0] == '/') {
        result = "/";
        pos = 1;
    }
    if (exists(result + path.substr(pos)) || pos >= path.size())
        return result + path.substr(pos);
    // Walk component by component, matching case-insensitively where the exact name is missing.
    while (pos < path.size()) {
        size_t end = path.find('/', pos);
        std::string name =
            path.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (!name.empty()) {
            std::string base = result.empty() ? std::string() : result;
            std::string candidate = base + name;
            if (!exists(candidate))
                candidate = base + match_component(base, name);
            result = candidate;
            if (end != std::string::npos)
                result += '/';
        }
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return result;
}

} // namespace platform
