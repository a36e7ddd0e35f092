// Every run of the board tests gets its own prefix (so the board lock is its own) and frames
// that are not paced by the retrace clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    char dir[] = "/tmp/wintest-board-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    setenv("WINTEST_PREFIX", dir, 1);
    setenv("WINTEST_VSYNC", "0", 1);
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    std::system((std::string("rm -rf ") + dir).c_str());
    return rc;
}
