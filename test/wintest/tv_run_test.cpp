// Mode 0 from WinMain to its return: keys go in as real input once the frame loop runs, and
// what the run does is seen as the events of the process (broadcasts, beeps, debug texts and
// the records the board's TV extension receives) and in the registry.
#include <windows.h>
#include "program_reset.h"
#include "sheet_messages.h"

#include "settings/board_settings.h"
#include "shell.h"
#include "tv/tv.h"

#include "platform/events.h"
#include "platform/prefix.h"
#include "board_harness.h"
#include "board_holder.h"
#include "glide.h"
#include "win32/harness.h"
#include "win32/testing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const char k_current[] = "Software\\Kavix\\TV\\Current";
const char k_default[] = "Software\\Kavix\\TV\\Default";
const char k_tail[] =
    "0 missing.bmp C:\\tv Software\\Kavix\\TV\\Current Software\\Kavix\\TV\\Default";

const char* const k_names[10] = {
    "SST_TV_ENABLE_KVX",    "SST_TV_OUTPUT_KVX", "SST_TV_SCAN_KVX",       "SST_TV_FORMAT_KVX",
    "SST_TV_XSHIFT_KVX",    "SST_TV_YSHIFT_KVX", "SST_TV_BRIGHTNESS_KVX", "SST_TV_TUNING_KVX",
    "SST_TV_SHARPNESS_KVX", "SST_TV_FFILTER_KVX"};

// One step of keyboard input: a press (down and up), or a key going down or up alone.
struct Input {
    UINT vk;
    enum { Press, Down, Up } how{Press};
};

struct Outcome {
    int result{-1};
    std::vector<std::string> debug;                           // debug texts in order
    std::vector<std::pair<std::string, uint64_t>> broadcasts; // name, wParam
    int beeps{0};
    std::vector<std::vector<int32_t>> records; // what the TV extension received
    bool ended_by_safety{false};
};

class TvRun : public ::testing::Test {
protected:
    void SetUp() override {
        program_reset::shell();
        std::memset(&TvSettings, 0, sizeof TvSettings);
        std::error_code ec;
        std::filesystem::remove(platform::prefix_dir() + "/registry.reg", ec);
    }

    static void put(const char* key, const char* name, const char* text) {
        ASSERT_TRUE(WriteBoardSetting(HKEY_LOCAL_MACHINE, key, name, text)) << name;
    }

    static std::string get(const char* key, const char* name) {
        char text[BOARD_SETTING_AREA_SIZE];
        return ReadBoardSetting(HKEY_LOCAL_MACHINE, key, name, text) ? text : "<none>";
    }

    // Runs WinMain with the tail; once the test window has the focus and the loop is idle the
    // whole script goes in. A run still going long after the script ends is stopped by
    // clearing ResizeOk, and the outcome says so.
    static Outcome run(std::vector<Input> script, const char* tail = k_tail) {
        Outcome out;
        int sink = platform::add_event_sink([&out](const platform::Event& e) {
            switch (e.kind) {
            case platform::EventKind::Debug:
                out.debug.push_back(e.text);
                break;
            case platform::EventKind::Broadcast:
                out.broadcasts.emplace_back(e.name, e.wparam);
                break;
            case platform::EventKind::Beep:
                EXPECT_EQ(e.code, 0);
                ++out.beeps;
                break;
            case platform::EventKind::Tv:
                out.records.emplace_back(e.tv, e.tv + 10);
                break;
            default:
                break;
            }
        });
        bool injected = false;
        win32::testing::set_idle_hook([&](int count) {
            if (!injected && GetFocus()) {
                injected = true;
                for (const Input& in : script) {
                    if (in.how == Input::Press)
                        win32::testing::press_key(in.vk);
                    else
                        win32::harness::inject_key(in.vk, in.how == Input::Down);
                }
            }
            if (count > 2000 && ResizeOk) {
                out.ended_by_safety = true;
                ResizeOk = 0;
            }
        });
        out.result =
            WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(tail), SW_SHOWNORMAL);
        win32::testing::set_idle_hook(nullptr);
        platform::remove_event_sink(sink);
        return out;
    }

    static std::vector<std::pair<std::string, uint64_t>> closed_with(uint64_t wparam) {
        return {{KVXPS_TV_APPLICATION_CLOSED, wparam}};
    }
};

TEST_F(TvRun, XShiftAtItsLimitBeepsAndSendsNothing) {
    put(k_current, "SST_TV_XSHIFT_KVX", "128");
    Outcome out = run({{VK_RIGHT}, {VK_ESCAPE}});
    EXPECT_FALSE(out.ended_by_safety);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.debug, (std::vector<std::string>{"right\n", "esc\n"}));
    EXPECT_EQ(out.beeps, 1);
    EXPECT_TRUE(out.records.empty()) << "the change at the limit was sent";
    EXPECT_EQ(TvSettings.XSHIFT, 128);
    EXPECT_EQ(out.broadcasts, closed_with(1));
    EXPECT_EQ(get(k_current, "SST_TV_XSHIFT_KVX"), "128");
    EXPECT_EQ(get(k_current, "SST_TV_ENABLE_KVX"), "<none>") << "Esc saves nothing";
}

TEST_F(TvRun, ShiftBNearTheTopStopsAt80AndTheNextKeySendsIt) {
    put(k_current, "SST_TV_BRIGHTNESS_KVX", "78");
    Outcome out = run({{VK_SHIFT, Input::Down}, {'B'}, {VK_SHIFT, Input::Up}, {'F'}, {VK_ESCAPE}});
    EXPECT_FALSE(out.ended_by_safety);
    EXPECT_EQ(out.debug, (std::vector<std::string>{"bbb\n", "fff\n", "esc\n"}));
    EXPECT_EQ(out.beeps, 1);
    EXPECT_EQ(TvSettings.BRIGHTNESS, 80u);
    EXPECT_EQ(TvSettings.FFILTER, 3);
    // With a board that reports its TV records: only F's record, carrying 80.
    if (!out.records.empty()) {
        ASSERT_EQ(out.records.size(), 1u);
        EXPECT_EQ(out.records[0][6], 80);
        EXPECT_EQ(out.records[0][9], 3);
    }
}

TEST_F(TvRun, BrightnessAndTuningHoldTheirLimits) {
    put(k_current, "SST_TV_BRIGHTNESS_KVX", "53");
    put(k_current, "SST_TV_TUNING_KVX", "0");
    Outcome out =
        run({{'B'}, {'T'}, {VK_SHIFT, Input::Down}, {'T'}, {VK_SHIFT, Input::Up}, {VK_ESCAPE}});
    EXPECT_EQ(out.beeps, 2) << "B below 51 and T at 0";
    EXPECT_EQ(TvSettings.BRIGHTNESS, 51u);
    EXPECT_EQ(TvSettings.TUNING, 1u);
    if (!out.records.empty()) {
        EXPECT_EQ(out.records.size(), 1u) << "only Shift+T is sent";
    }

    // A brightness loaded below the range steps to the limit instead of wrapping around.
    SetUp();
    put(k_current, "SST_TV_BRIGHTNESS_KVX", "0");
    out = run({{'B'}, {VK_ESCAPE}});
    EXPECT_EQ(out.beeps, 1);
    EXPECT_EQ(TvSettings.BRIGHTNESS, 51u);
}

TEST_F(TvRun, DTogglesTheScanAndTellsThePropertySheet) {
    put(k_current, "SST_TV_SCAN_KVX", "2");
    // 0x64 (keypad 4, the code of a lower-case d) binds nothing.
    Outcome out = run({{'D'}, {0x64}, {'D'}, {VK_ESCAPE}});
    EXPECT_FALSE(out.ended_by_safety);
    std::vector<std::pair<std::string, uint64_t>> expected = {{KVXPS_TV_UNDERSCAN_OVERSCAN, 0},
                                                              {KVXPS_TV_UNDERSCAN_OVERSCAN, 1},
                                                              {KVXPS_TV_APPLICATION_CLOSED, 1}};
    EXPECT_EQ(out.broadcasts, expected);
    EXPECT_EQ(TvSettings.SCAN, 1);
}

TEST_F(TvRun, SpaceRestartsTheOutputAndEnterSavesAllTen) {
    const char* defaults[10] = {"0", "2", "1", "3", "-128", "5", "60", "7", "1", "0"};
    for (int i = 0; i < 10; ++i)
        put(k_default, k_names[i], defaults[i]);
    Outcome out = run({{VK_SPACE}, {VK_RETURN}, {VK_ESCAPE}});
    EXPECT_FALSE(out.ended_by_safety);
    EXPECT_EQ(out.debug, (std::vector<std::string>{"return\n", "esc\n"}));
    EXPECT_EQ(TvSettings.ENABLE, 1);
    const char* saved[10] = {"1", "2", "1", "3", "-128", "5", "60", "7", "1", "0"};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(get(k_current, k_names[i]), saved[i]) << k_names[i];
    if (!out.records.empty()) {
        ASSERT_EQ(out.records.size(), 3u);
        EXPECT_EQ(out.records[0][0], 0) << "first the output off";
        EXPECT_EQ(out.records[1][0], 1) << "then on";
        EXPECT_EQ(out.records[2][0], 1);
        EXPECT_EQ(out.records[1][4], -128);
    }
}

TEST_F(TvRun, EveryBoundKeyWritesItsTraceInOrder) {
    Outcome out = run({{VK_LEFT},
                       {VK_UP},
                       {VK_RIGHT},
                       {VK_DOWN},
                       {'1'},
                       {'2'},
                       {'3'},
                       {'4'},
                       {'B'},
                       {'D'},
                       {'F'},
                       {'S'},
                       {'T'},
                       {VK_SPACE},
                       {'Z'},
                       {0x61},
                       {VK_OEM_1},
                       {VK_RETURN},
                       {VK_ESCAPE}});
    EXPECT_FALSE(out.ended_by_safety);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.debug,
              (std::vector<std::string>{"left\n", "up\n", "right\n", "down\n", "111\n", "222\n",
                                        "333\n", "444\n", "bbb\n", "ddd\n", "fff\n", "sss\n",
                                        "ttt\n", "return\n", "esc\n"}));
    EXPECT_EQ(out.broadcasts.back(), closed_with(1)[0]);
    EXPECT_EQ(out.broadcasts.size(), 2u) << "D and Esc";
}

TEST_F(TvRun, RestoreKeysReadTheDefaultKeyAndSendEvenWhenItIsEmpty) {
    put(k_current, "SST_TV_XSHIFT_KVX", "10");
    put(k_current, "SST_TV_TUNING_KVX", "9");
    put(k_current, "SST_TV_ENABLE_KVX", "1");
    put(k_default, "SST_TV_XSHIFT_KVX", "-3");
    put(k_default, "SST_TV_ENABLE_KVX", "0");
    Outcome out = run({{'3'}, {'2'}, {'1'}, {VK_ESCAPE}});
    EXPECT_EQ(TvSettings.TUNING, 9u) << "no default tuning: unchanged";
    EXPECT_EQ(TvSettings.XSHIFT, -3);
    EXPECT_EQ(TvSettings.ENABLE, 1) << "1 does not restore ENABLE";
    if (!out.records.empty()) {
        EXPECT_EQ(out.records.size(), 3u);
    }
}

TEST_F(TvRun, RefusedResizeEndsTheRunWithoutABroadcast) {
    Outcome out = run({});
    EXPECT_TRUE(out.ended_by_safety);
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.broadcasts.empty());
    EXPECT_TRUE(out.debug.empty());
}

TEST_F(TvRun, RunsOnWithAnImageAndWithout) {
    std::filesystem::create_directories(platform::prefix_dir() + "/drive_c/tv");
    std::string file =
        "3df v1.0\nI8\nlod range: 1 64\naspect ratio: 1 1\n" + std::string(64 * 64, char(0x80));
    std::FILE* f = std::fopen((platform::prefix_dir() + "/drive_c/tv/testtv.3df").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    Outcome out = run({{VK_LEFT}, {VK_ESCAPE}});
    EXPECT_FALSE(out.ended_by_safety);
    EXPECT_EQ(out.debug, (std::vector<std::string>{"left\n", "esc\n"}));
}

TEST_F(TvRun, WrongWordsEndWithExitCodeOneBeforeTheBoard) {
    std::string long_key(256, 'k');
    std::string long_dir(249, 'd');
    const std::string tails[] = {
        "0 missing.bmp C:\\tv Software\\Current",
        "0 missing.bmp C:\\tv Software\\Current Software\\Default extra",
        "0 missing.bmp C:\\tv " + long_key + " Software\\Default",
        "0 missing.bmp C:\\tv Software\\Current " + long_key,
        "0 missing.bmp " + long_dir + " Software\\Current Software\\Default",
    };
    for (const std::string& tail : tails)
        EXPECT_EXIT(run({}, tail.c_str()), testing::ExitedWithCode(1), "") << tail.size();
}

// The frame on the board's screen: the test image with its top-left corner at (64, 48), inside
// the outer frame that runs from red at its top-left corner to green at its top-right one.
TEST_F(TvRun, ScreenShowsTheTestImageInsideTheFrames) {
    std::filesystem::path dir = platform::map_path("C:\\tv");
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(std::string(WINTEST_SOURCE_DIR) + "/data/testtv.3df",
                               dir / "testtv.3df",
                               std::filesystem::copy_options::overwrite_existing);
    int width = 0, height = 0;
    DWORD* image = ReadTvTestImage((dir / "testtv.3df").c_str(), &width, &height);
    ASSERT_NE(image, nullptr);

    platform::Image screen;
    win32::testing::set_idle_hook([&](int count) {
        if (count == 3 && GetFocus()) {
            screen = board::screen_image();
            win32::testing::press_key(VK_ESCAPE);
        }
    });
    EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(k_tail), SW_SHOWNORMAL),
              0);
    win32::testing::set_idle_hook(nullptr);
    ASSERT_EQ(screen.width, 640);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(screen.at(64 + x, 48 + y), image[y * width + x] & 0xFFFFFF) << x << "," << y;
    EXPECT_EQ(screen.at(64 + width, 48), 0u) << "black beside the image";
    EXPECT_EQ(screen.at(25, 25), 0xFF0A0Au) << "outer frame, red corner";
    uint32_t right = screen.at(614, 25); // one pixel short of the green corner
    EXPECT_LT(right >> 16, 0x20u) << std::hex << right;
    EXPECT_GT((right >> 8) & 0xFF, 0xF0u) << std::hex << right;
    free(image);
}

// Another program holding the board: the box, the board shut down again, and a return through
// WinMain with nothing sent to the property sheet.
TEST_F(TvRun, BusyBoardShowsTheMessageAndReturns) {
    wt_test::Child holder("hold_board");
    ASSERT_TRUE(wt_test::start_board_holder(holder));
    std::vector<std::string> boxes;
    int sink = platform::add_event_sink([&](const platform::Event& e) {
        if (e.kind == platform::EventKind::Box)
            boxes.push_back(e.caption + "|" + e.text);
        EXPECT_NE(e.kind, platform::EventKind::Broadcast) << e.name;
    });
    Outcome out = run({}); // a board got after all would run the TV loop: the safety ends it
    EXPECT_EQ(out.result, 0);
    EXPECT_FALSE(out.ended_by_safety) << "the run had the board";
    platform::remove_event_sink(sink);
    EXPECT_EQ(boxes, std::vector<std::string>{
                         "Error|Display property test cannot run due to presence of another "
                         "running D3D or glide application.  Please exit or close D3D or glide "
                         "application and restart the Display Properties."});
    EXPECT_FALSE(board::is_open());
}

} // namespace
