// The Glide test (mode 2) from end to end: the real binary for its exits, and the program in
// a child process with Escape injected for its picture.
#include <gtest/gtest.h>

#include "glide.h"
#include "shell.h"

#include "platform/events.h"
#include "platform/image.h"
#include "texlib.h"
#include "texture_file.h"
#include "win32/harness.h"
#include "test_support.h"
#include "win32/testing.h"
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string k_sample = std::string(WINTEST_SOURCE_DIR) + "/data/sample256.3df";

using test_support::EnvList;
using test_support::fresh_dir;
using test_support::ProcessRun;

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Runs build/bin/wintest with the words of its command line and extra environment.
ProcessRun run_wintest(const std::vector<std::string>& words, const EnvList& env) {
    return test_support::run_program(WINTEST_BIN_DIR "/wintest", words, env);
}

// The full-screen quad as the board draws it: pixel (x, row) samples s = 255 (x + 0.5) / 640
// and t = 255 (row + 0.5) / 480 (t = 0 on the top row) of the 256 level, bilinear with
// wrapping, in 1/256 texel steps rounded half up. Both are whole numbers of 1/256 here.
platform::Image reference_frame(const texlib::Picture& level) {
    platform::Image out(640, 480);
    for (int row = 0; row < 480; ++row) {
        int tu = 68 * (2 * row + 1) - 128; // t * 256 - half a texel
        int y0 = (tu >> 8) & 255, y1 = (y0 + 1) & 255, fy = tu & 255;
        for (int x = 0; x < 640; ++x) {
            int su = 51 * (2 * x + 1) - 128;
            int x0 = (su >> 8) & 255, x1 = (x0 + 1) & 255, fx = su & 255;
            uint32_t pixel = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                auto c = [&](int tx, int ty) { return int((level.at(tx, ty) >> shift) & 0xFF); };
                int sum = c(x0, y0) * (256 - fx) * (256 - fy) + c(x1, y0) * fx * (256 - fy) +
                          c(x0, y1) * (256 - fx) * fy + c(x1, y1) * fx * fy;
                pixel |= uint32_t((sum + 32768) >> 16) << shift;
            }
            out.at(x, row) = pixel;
        }
    }
    return out;
}

int run_program(const char* tail) {
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(tail), SW_SHOWNORMAL);
}

} // namespace

TEST(GlideTest, FileThatIsNoTextureExitsMinusOneAfterClosingTheBoard) {
    std::string dir = fresh_dir();
    std::string png = dir + "/board.png";
    std::string not_3df = dir + "/notes.3df";
    std::ofstream(not_3df) << "these are notes, not a texture\n";
    ProcessRun run = run_wintest({"2", "missing.bmp", not_3df}, {{"WINTEST_BOARD_PNG", png}});
    EXPECT_EQ(run.exit_code, 255);
    EXPECT_TRUE(exists(png)) << "the board was opened and shut down";
    EXPECT_EQ(run.err.find("message box"), std::string::npos) << run.err;
}

TEST(GlideTest, TooLongTexturePathIsATextureThatCannotBeLoaded) {
    std::string dir = fresh_dir();
    std::string png = dir + "/board.png";
    std::string path(300, 'a');
    ProcessRun run = run_wintest({"2", "missing.bmp", path}, {{"WINTEST_BOARD_PNG", png}});
    EXPECT_EQ(run.exit_code, 255);
    EXPECT_EQ(run.err.find("message box"), std::string::npos) << run.err;
}

TEST(GlideTest, WrongWordCountExitsOneWithoutTouchingTheBoard) {
    for (auto words : {std::vector<std::string>{"2", "missing.bmp", k_sample, "extra"},
                       std::vector<std::string>{"2", "missing.bmp"}}) {
        std::string prefix = fresh_dir();
        std::string png = prefix + "/board.png";
        ProcessRun run =
            run_wintest(words, {{"WINTEST_PREFIX", prefix}, {"WINTEST_BOARD_PNG", png}});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_FALSE(exists(png));
        EXPECT_FALSE(exists(prefix + "/board.lock")) << "the board was never opened";
    }
}

TEST(GlideTest, BusyBoardShowsTheMessageAndExitsOne) {
    grGlideInit();
    grSstSelect(0);
    ASSERT_TRUE(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                             GR_ORIGIN_UPPER_LEFT, 2, 1));
    ProcessRun run = run_wintest({"2", "missing.bmp", k_sample}, {});
    grGlideShutdown();
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find(std::string("message box \"Error\": ") + BoardBusyText),
              std::string::npos)
        << run.err;
}

TEST(GlideTest, EscapeBroadcastsTheGammaTestsClosingMessageAndExitsZero) {
    // The same path in the death test's process, which runs this test again up to the run.
    std::string png = std::string(std::getenv("WINTEST_PREFIX")) + "/glide_escape.png";
    EXPECT_EXIT(
        {
            setenv("WINTEST_BOARD_PNG", png.c_str(), 1);
            platform::add_event_sink([](const platform::Event& e) {
                if (e.kind == platform::EventKind::Broadcast)
                    fprintf(stderr, "broadcast [%s] %llu %lld\n", e.name.c_str(),
                            (unsigned long long)e.wparam, (long long)e.lparam);
            });
            // Other keys first: they change nothing; Escape after a few frames.
            win32::testing::set_idle_hook([](int n) {
                if (n == 2)
                    win32::testing::press_key('A');
                if (n == 4)
                    win32::testing::press_key(VK_RETURN);
                if (n == 8)
                    win32::testing::press_key(VK_ESCAPE);
            });
            std::string tail = "2 missing.bmp " + k_sample;
            run_program(tail.c_str());
        },
        testing::ExitedWithCode(0), "^broadcast \\[KVXPS Test Gamma Application Closed\\] 0 0\n$");
    // The last frame shown: the texture over the whole screen, its first row at the top.
    platform::Image shown = platform::read_png(png);
    ASSERT_EQ(shown.width, 640);
    ASSERT_EQ(shown.height, 480);
    auto bytes = platform::read_file(k_sample);
    ASSERT_TRUE(bytes);
    auto texture = board::parse_3df(*bytes);
    ASSERT_TRUE(texture);
    platform::Image expected = reference_frame(texlib::decode_3df(*texture)[0]);
    int wrong = 0;
    for (size_t i = 0; i < expected.pixels.size(); ++i)
        if (shown.pixels[i] != expected.pixels[i] && wrong++ < 5)
            ADD_FAILURE() << "pixel " << i % 640 << "," << i / 640 << ": " << std::hex
                          << shown.pixels[i] << " expected " << expected.pixels[i];
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(shown.at(636, 3), 0xFF0000u) << "the texture's red corner is at the top right";
    EXPECT_EQ(shown.at(3, 476), 0x0000FFu) << "and its blue corner at the bottom left";
}
