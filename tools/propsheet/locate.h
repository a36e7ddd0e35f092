// Where the sheet finds the bundled data when no --data names it: in the build tree, in an
// installed tree, in an unpacked Windows folder, or through the environment.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace propsheet {

// An environment variable's value, empty when unset; tests hand in their own.
using EnvReader = std::function<std::string(const char* name)>;
std::string process_env(const char* name);

// The folders that may hold the data, in the order they are tried, for a sheet whose program
// file lies in `executable_dir`:
//   <exe>/../share/wintest   installed (cmake --install, the .deb)
//   <exe>/data               the Windows folder (the .zip)
//   <exe>/../../data         the build tree (build/bin beside the sources' data/)
//   $XDG_DATA_HOME/wintest (~/.local/share/wintest), then each of $XDG_DATA_DIRS/wintest
//   (/usr/local/share, /usr/share): not on Windows. Relative XDG entries are ignored.
std::vector<std::filesystem::path> data_dir_candidates(const std::filesystem::path& executable_dir,
                                                       const EnvReader& env);

// $WINTEST_DATA as given when set, else the first candidate that holds the data (its
// kvxlogo.bmp), made absolute, else "data".
std::string find_data_dir(const std::filesystem::path& executable_dir, const EnvReader& env);

// The program splits its command line at spaces without quoting, so a path with a blank
// cannot reach it whole. Such a path is handed over as its short name (Windows) or relative
// to `cwd`, the program's working folder, when that has no blank; otherwise as it is.
std::string without_blanks(const std::string& path, const std::filesystem::path& cwd);

// find_data_dir() for this process, without blanks for the program started from here.
std::string default_data_dir(const std::filesystem::path& executable_dir);

} // namespace propsheet
