// main() of every test binary: each process gets a fresh prefix of its own, the headless
// display and unthrottled frames, so tests never meet each other or a real desktop. Started
// as a test's child procedure (child.h), it runs that procedure instead.
#include "child.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (int code = wt_test::run_child_if_asked(); code >= 0)
        return code;
    // A death test starts the binary again instead of forking the test process, which may
    // have threads by then (the desktop bus's receiver).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::InitGoogleTest(&argc, argv);
    // A fresh prefix even when the user's shell names one: the tests must not touch the
    // user's emulated machine, nor share a board lock with cases running beside them. A death
    // test's process works in the prefix of the test that started it.
    bool death_test = !GTEST_FLAG_GET(internal_run_death_test).empty();
    char dir[] = "/tmp/wintest-test-XXXXXX";
    bool own_prefix = !death_test && mkdtemp(dir) != nullptr;
    if (own_prefix)
        setenv("WINTEST_PREFIX", dir, 1);
    setenv("WINTEST_DISPLAY", "headless", 0);
    setenv("WINTEST_VSYNC", "0", 0);
    int result = RUN_ALL_TESTS();
    if (own_prefix) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return result;
}
