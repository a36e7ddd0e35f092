// The fixture of the display tests: a virtual X server per case, and the program (the probe,
// see probe/probe.cpp) started on it with the SDL display or headless.
#pragma once

#include <gtest/gtest.h>

#include "x_session.h"

#include <map>
#include <unistd.h>
#include <string>

namespace sdltest {

inline const char* const kShellTitle = "Kavix TV Adjustment";

class OnDesktop : public testing::Test {
protected:
    void SetUp() override {
        std::string missing, why;
        if (!have_tools({"xdotool", "xwd"}, missing))
            GTEST_SKIP() << missing << " is not installed";
        if (!m_x.start(why, screen()))
            GTEST_SKIP() << why;
    }

    // The size of the virtual screen, as Xvfb takes it.
    virtual std::string screen() const { return "1920x1200x24"; }

    // Starts the probe with `args` on the chosen display and waits until its test runs.
    // Returns false (the case failed) when it did not get there.
    bool start(Program& program, const std::vector<std::string>& args,
               std::map<std::string, std::string> env = {}, const char* display = "sdl") {
        std::vector<std::string> all{std::string(WINTEST_BIN_DIR) + "/wintest_probe"};
        all.insert(all.end(), args.begin(), args.end());
        env.emplace("WINTEST_DISPLAY", display);
        env.emplace("WINTEST_VSYNC", "1");
        program.start(all, env);
        std::string ready = program.wait_line("ready ", 20s);
        EXPECT_EQ(ready, std::string("ready ") + display) << "the probe did not come up";
        return ready == std::string("ready ") + display;
    }

    bool start_shell(Program& program, std::map<std::string, std::string> env = {},
                     const char* display = "sdl") {
        return start(program, {"--shell", kShellTitle, bitmap()}, std::move(env), display);
    }

    // The logo bitmap when the data folder has it (the window then shows it), else a name
    // that does not exist (a black window).
    static std::string bitmap() {
        std::string logo = std::string(WINTEST_SOURCE_DIR) + "/data/kvxlogo.bmp";
        return access(logo.c_str(), R_OK) == 0 ? logo : "missing.bmp";
    }

    // The headless program's picture of the test window after the same start.
    platform::Image headless_window(const std::vector<std::string>& commands = {}) {
        Program headless;
        if (!start_shell(headless, {}, "headless"))
            return {};
        for (const auto& c : commands)
            headless.send(c);
        headless.send("snap " + m_dir.path());
        EXPECT_FALSE(headless.wait_line("snapped").empty());
        return platform::read_png(m_dir.path() + "/window.png");
    }

    VirtualDisplay m_x;
    TempDir m_dir;
};

} // namespace sdltest
