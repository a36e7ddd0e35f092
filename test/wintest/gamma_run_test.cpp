// The gamma adjustment run from end to end: WinMain with a mode 1 command line in a child
// process, keys injected as real input between frames, the exit code and what was stored.
#include "gamma_test_support.h"

#include "win32/harness.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using gamma_test::stored;
using gamma_test::use_key;

namespace {

int run_winmain(const std::string& tail) {
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(tail.c_str()),
                   SW_SHOWNORMAL);
}

class GammaRun : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        m_key = std::string("SOFTWARE\\Kavix\\GammaRun\\") +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        use_key(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    // "1 <bitmap> <texture directory> <key>"
    std::string tail(const std::string& dir) const { return "1 nobitmap.bmp " + dir + " " + m_key; }

    std::string m_key;
};

TEST_F(GammaRun, WrongWordCountEndsWithOne) {
    for (const char* words : {"1 nobitmap.bmp dir", "1 nobitmap.bmp dir key extra"})
        EXPECT_EXIT(run_winmain(words), testing::ExitedWithCode(1), "") << words;
}

TEST_F(GammaRun, KeyOrTexturePathLongerThanItsBufferIsRefusedNotCut) {
    std::string key255 = "K" + std::string(254, 'k');
    std::string dir246(246, 'd'); // 246 + "\\TESTGAMA.3DF" = 259 characters
    // Words that fit get past the board to the texture, which does not exist: -1.
    EXPECT_EXIT(run_winmain("1 nobitmap.bmp " + dir246 + " " + key255),
                testing::ExitedWithCode(255), "");
    EXPECT_EXIT(run_winmain("1 nobitmap.bmp " + dir246 + "d " + key255), testing::ExitedWithCode(1),
                "");
    EXPECT_EXIT(run_winmain("1 nobitmap.bmp " + dir246 + " " + key255 + "k"),
                testing::ExitedWithCode(1), "");
}

} // namespace
