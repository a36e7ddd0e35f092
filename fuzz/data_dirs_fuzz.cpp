// The environment that the sheet's data lookup reads (XDG_DATA_HOME, XDG_DATA_DIRS, HOME) and
// the paths it hands to the program: folders are only ever absolute, and a path handed over
// either has no blank or is the one given.
#include "locate.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The input is the values of the variables and a working folder, separated by NULs.
    std::string fields[4];
    size_t field = 0;
    for (size_t i = 0; i < size && field < 4; ++i) {
        if (data[i] == 0)
            ++field;
        else
            fields[field] += char(data[i]);
    }
    std::map<std::string, std::string> env{
        {"XDG_DATA_HOME", fields[0]}, {"XDG_DATA_DIRS", fields[1]}, {"HOME", fields[2]}};
    auto reader = [&env](const char* name) { return env[name]; };

    for (const std::filesystem::path& dir :
         propsheet::data_dir_candidates("/nonexistent/bin", reader))
        if (!dir.is_absolute())
            std::abort(); // a relative XDG entry would make the data depend on the folder

    std::string handed = propsheet::without_blanks(fields[1], fields[3]);
    if (handed != fields[1] && handed.find(' ') != std::string::npos)
        std::abort();
    return 0;
}
