// A program started by hand where nobody can see it: the display it gets, and what it says
// about that on stderr (once, and only when a person started it and it waits for input).
#include <windows.h>

#include "child.h"
#include "win32/startup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// A program with one window that looks for messages twice, then ends.
int WINAPI OneWindowProgram(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = "ByHand";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "ByHand", "By hand", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  200, 100, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 2;
    for (int i = 0; i < 2; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    return 0;
}

// Runs the program as its start-up does, stderr into the file child_arg(0).
WT_TEST_CHILD(one_window_program) {
    if (!std::freopen(wt_test::child_arg(0).c_str(), "w", stderr))
        return 3;
    char name[] = "byhand";
    char* argv[] = {name, nullptr};
    return win32::run_winmain(1, argv, OneWindowProgram);
}

// What the program said on stderr, started with these environment changes (no display).
std::string stderr_of_run(std::vector<std::string> env) {
    std::string path = std::string(std::getenv("WINTEST_PREFIX")) + "/byhand-stderr.txt";
    env.insert(env.end(), {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER="});
    wt_test::Child program("one_window_program", {path}, env);
    EXPECT_EQ(program.wait(), 0);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(StartedByHand, WithoutADisplaySaysOnceHowToSeeAndDriveTheRun) {
    std::string said = stderr_of_run({"WINTEST_DISPLAY=auto"});
    EXPECT_EQ(count(said, "running headless"), 1) << said;
    EXPECT_NE(said.find("no display"), std::string::npos) << said;
    EXPECT_NE(said.find("xvfb-run"), std::string::npos) << said;
    EXPECT_NE(said.find("propsheet"), std::string::npos) << said;
    EXPECT_EQ(stderr_of_run({"WINTEST_DISPLAY"}), said) << "auto is the default";
}

TEST(StartedByHand, SaysNothingWhenAControllerStartedItOrItAskedToBeHeadless) {
    EXPECT_EQ(stderr_of_run({"WINTEST_DISPLAY=auto", "WINTEST_COMMAND_LINE=1 a b"}), "");
    EXPECT_EQ(stderr_of_run({"WINTEST_DISPLAY=headless"}), "");
}

TEST(StartedByHand, RealWindowsAskedForWithoutADisplayAreRefusedAloud) {
    std::string said = stderr_of_run({"WINTEST_DISPLAY=sdl"});
    EXPECT_NE(said.find("display \"sdl\" is not available"), std::string::npos) << said;
    EXPECT_NE(said.find("running headless"), std::string::npos) << said;
    EXPECT_EQ(count(said, "xvfb-run"), 0) << "it asked for windows: it knows how to see them";
}

} // namespace
