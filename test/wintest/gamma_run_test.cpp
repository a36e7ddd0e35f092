// The gamma adjustment run from end to end: WinMain with a mode 1 command line in a child
// process, keys injected as real input between frames, the exit code and what was stored.
#include "gamma_test_support.h"
#include "sheet_messages.h"

#include "board_harness.h"
#include "platform/image.h"
#include "win32/harness.h"
#include "win32/testing.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using gamma_test::stored;
using gamma_test::use_key;

namespace {

int run_winmain(const std::string& tail) {
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(tail.c_str()),
                   SW_SHOWNORMAL);
}

const std::string DataDir = std::string(WINTEST_SOURCE_DIR) + "/data";

// Runs the steps in order, one per idle pass of the message pump (about one per frame); a
// step that returns false (no focus window yet) is tried again at the next pass.
void script(std::vector<std::function<bool()>> steps) {
    auto next = std::make_shared<size_t>(0);
    win32::testing::set_idle_hook([steps = std::move(steps), next](int) {
        if (*next < steps.size() && steps[*next]())
            ++*next;
    });
}

std::function<bool()> key(UINT vk) {
    return [vk] { return win32::testing::press_key(vk); };
}
std::function<bool()> shift(bool down) {
    return [down] { return win32::harness::inject_key(VK_SHIFT, down); };
}
std::function<bool()> idle() {
    return [] { return true; };
}

// A second top-level window that reports on stderr when it hears the closing message, and
// whether the board was still open then.
LRESULT CALLBACK ListenerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == RegisterWindowMessageA(KVXPS_GAMMA_APPLICATION_CLOSED))
        fprintf(stderr, "closing heard, board open %d\n", board::is_open() ? 1 : 0);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void create_listener() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ListenerProc;
    wc.lpszClassName = "GammaRunListener";
    RegisterClassA(&wc);
    CreateWindowExA(0, wc.lpszClassName, "listener", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, NULL, NULL,
                    NULL, NULL);
}

class GammaRun : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        use_key(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    // "1 <bitmap> <texture directory> <key>"
    std::string tail(const std::string& dir) const {
        return "1 nobitmap.bmp " + dir + " " + CurrentKeyPath;
    }
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

TEST_F(GammaRun, EnterSavesTheEnableFlagReadAtStartAndEscapeSavesNothing) {
    struct Case {
        const char* stored_flag; // nullptr: no value
        const char* saved_flag;
    };
    // The longest flag the read takes: 200 bytes and no terminator, which the read adds
    // behind them (the sanitizer build catches an area one byte short).
    const std::string longest(BOARD_SETTING_TEXT_SIZE, 'x');
    int n = 0;
    for (Case c : {Case{"yes", "1"}, Case{"", "1"}, Case{"0", "0"}, Case{nullptr, "0"},
                   Case{longest.c_str(), "1"}}) {
        use_key("EnterSavesFlag" + std::to_string(++n));
        if (c.stored_flag == longest.c_str()) {
            HKEY key;
            ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, CurrentKeyPath, &key), ERROR_SUCCESS);
            ASSERT_EQ(RegSetValueExA(key, "=CurrGammaEnable", 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(longest.data()),
                                     DWORD(longest.size())),
                      ERROR_SUCCESS);
            RegCloseKey(key);
        } else if (c.stored_flag) {
            WriteBoardSetting(HKEY_LOCAL_MACHINE, CurrentKeyPath, "=CurrGammaEnable",
                              c.stored_flag);
        }
        EXPECT_EXIT(
            {
                // Shift+R after Enter changes red while correction is on; Escape drops it.
                script({key(VK_RETURN), shift(true), key('R'), shift(false), idle(), idle(), idle(),
                        key(VK_ESCAPE)});
                run_winmain(tail(DataDir));
            },
            testing::ExitedWithCode(0), "")
            << (c.stored_flag ? c.stored_flag : "no value");
        EXPECT_EQ(stored("SST_RGAMMA"), "0.0");
        EXPECT_EQ(stored("SST_GGAMMA"), "0.0");
        EXPECT_EQ(stored("SST_BGAMMA"), "0.0");
        EXPECT_EQ(stored("=CurrGammaColor"), "Red");
        EXPECT_EQ(stored("=CurrGammaEnable"), c.saved_flag);
    }
}

TEST_F(GammaRun, EscapeAnnouncesTheEndWhileTheBoardIsStillOpen) {
    EXPECT_EXIT(
        {
            create_listener();
            script({key(VK_ESCAPE)});
            run_winmain(tail(DataDir));
        },
        testing::ExitedWithCode(0), "closing heard, board open 1");
}

TEST_F(GammaRun, SheetClosedEndsWithZeroAndSavesNothing) {
    EXPECT_EXIT(
        {
            gamma_test::open_board();
            CreateGammaMessageWindow();
            SendMessageA(HWND_BROADCAST, GammaMsgSheetChanged, 19 | 18 << 8 | 17 << 16, 0);
            SendMessageA(HWND_BROADCAST, PropertySheetClosedMessage, 0, 0);
            fprintf(stderr, "still running\n");
        },
        testing::ExitedWithCode(0), "^$");
    EXPECT_EQ(stored("SST_RGAMMA"), "<unreadable>");
}

// Level of a pixel of the bands, row counted from the bottom.
int band_level(int column, int row) {
    if ((row / 60) % 2 == 0)
        return 128;
    return (row + column) % 2 ? 255 : 0;
}

TEST_F(GammaRun, PictureShowsTextureAndBandsThroughTheKeysGamma) {
    std::string png = test_support::prefix_path("gamma_screen.png");
    test_support::ScopedEnv board_png("WINTEST_BOARD_PNG", png.c_str());
    WriteBoardSetting(HKEY_LOCAL_MACHINE, CurrentKeyPath, "=CurrGammaEnable", "1");
    EXPECT_EXIT(
        {
            script({shift(true), key('R'), shift(false), idle(), idle(), key(VK_ESCAPE)});
            run_winmain(tail(DataDir));
        },
        testing::ExitedWithCode(0), "");

    platform::Image screen = platform::read_png(png);
    ASSERT_EQ(screen.width, 640);
    ASSERT_EQ(screen.height, 480);
    // Red goes through gamma 1.8, green and blue keep the board's identity curve.
    auto red_of = [](int level) {
        return static_cast<int>(std::lround(255.0 * std::pow(level / 255.0, 1.0 / 1.8)));
    };
    int wrong = 0;
    for (int row = 0; row < 480; ++row)
        for (int column = 320; column < 640; ++column) {
            int level = band_level(column, row);
            uint32_t expected = static_cast<uint32_t>(red_of(level) << 16 | level << 8 | level);
            uint32_t got = screen.at(column, 479 - row);
            if (got != expected && wrong++ < 5)
                ADD_FAILURE() << "column " << column << " row " << row << ": " << std::hex << got
                              << " not " << expected;
        }
    EXPECT_EQ(wrong, 0);
    // The texture covers the left half: nothing of the white clear is left there.
    int white = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 320; ++x)
            white += screen.at(x, y) == 0xFFFFFF;
    EXPECT_LT(white, 320 * 480 / 2);
}
} // namespace
