// Gives the test process a prefix of its own before anything reads WINTEST_PREFIX: a new
// folder under the temporary directory, removed when the process ends. ctest runs every case
// in a process of its own, so cases never share a registry file; within one process run by
// hand, fixtures clear the files they use in SetUp.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace test {

inline const std::string& fresh_prefix() {
    static const std::string s_dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "wintest-XXXXXX").string();
        std::string dir = ::mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
        ::setenv("WINTEST_PREFIX", dir.c_str(), 1);
        static pid_t s_owner = ::getpid();
        std::atexit([] {
            if (::getpid() == s_owner) {
                std::error_code ec;
                std::filesystem::remove_all(std::getenv("WINTEST_PREFIX"), ec);
            }
        });
        return dir;
    }();
    return s_dir;
}

} // namespace test
