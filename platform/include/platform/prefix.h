// The prefix: the folder that holds all state of the emulated machine (registry, board lock,
// desktop bus endpoints, drive folders), and the mapping of the program's Windows paths.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// WINTEST_PREFIX, else $XDG_STATE_HOME/wintest, else ~/.local/state/wintest; created on first
// use. Read once per process.
const std::string& prefix_dir();

// prefix_dir() + "/" + relative; creates the parent folders of the result.
std::string prefix_path(std::string_view relative);

// Maps a path as the program writes it to a host path: backslashes become slashes, a drive
// letter "X:" becomes the prefix folder drive_x, and each component that does not exist as
// written is matched case-insensitively against its folder. Relative paths stay relative.
std::string map_path(std::string_view windows_path);

// The value of an environment variable, or the fallback when it is unset or empty.
std::string env_string(const char* name, const char* fallback = "");

// An environment variable read as a flag: "0", "no", "off", "false" are false, any other
// non-empty value true, unset the fallback.
bool env_flag(const char* name, bool fallback);

// An environment variable read as a non-negative integer; the fallback when unset or invalid.
long long env_number(const char* name, long long fallback);

} // namespace platform
