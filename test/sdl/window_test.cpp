// The test window as a real window: where it opens, what it shows, and what the user's
// window manager actions (close, move, size) do to the program.
#include "fixture.h"

using namespace sdltest;

namespace {

std::string client_rect(Program& program) {
    size_t from = program.lines().size();
    program.send("rect");
    return program.wait_line("rect ", 5s, from);
}

TEST_F(OnDesktop, TestWindowShowsItsClientAreaWhereTheProgramPutsIt) {
    Program program;
    ASSERT_TRUE(start_shell(program));
    unsigned long id = find_window(kShellTitle);
    ASSERT_NE(id, 0u) << "no window titled " << kShellTitle;
    // The popup's outer rectangle starts at the screen's corner; the SDL window is its client
    // area, inside the 4-pixel frame and below the 19-pixel caption.
    Geometry g = window_geometry(id);
    std::string rect = client_rect(program);
    EXPECT_EQ(rect, "rect " + std::to_string(g.x) + " " + std::to_string(g.y) + " " +
                        std::to_string(g.width) + " " + std::to_string(g.height));
    EXPECT_EQ(g.x, 4);
    EXPECT_EQ(g.y, 23);

    platform::Image expected = headless_window();
    ASSERT_FALSE(expected.empty());
    platform::Image shown;
    Difference d;
    EXPECT_TRUE(eventually([&] {
        shown = capture(id);
        d = compare(expected, shown);
        return d.count == 0;
    })) << d.count
        << " pixels differ (-1: size " << shown.width << "x" << shown.height << " for "
        << expected.width << "x" << expected.height << "), first at " << d.x << "," << d.y << ": "
        << std::hex << d.actual << " for " << d.expected;
}

TEST_F(OnDesktop, CloseButtonBroadcastsTheEndOfTheTestAndEndsTheProgram) {
    Program program;
    ASSERT_TRUE(start_shell(program));
    unsigned long id = find_window(kShellTitle);
    ASSERT_NE(id, 0u);
    click_close_button(id);
    EXPECT_EQ(program.wait_line("event broadcast"),
              "event broadcast KVXPS Test TV Application Closed |  | 0 0");
    EXPECT_EQ(program.wait_exit(), 0);
}

TEST_F(OnDesktop, UserMovesAndSizesReachTheProgramAsItsOwnGeometry) {
    Program program;
    ASSERT_TRUE(start_shell(program));
    unsigned long id = find_window(kShellTitle);
    ASSERT_NE(id, 0u);
    std::string window = std::to_string(id);
    shell("xdotool windowsize " + window + " 300 200");
    EXPECT_TRUE(eventually([&] { return client_rect(program) == "rect 4 23 300 200"; }))
        << client_rect(program);
    shell("xdotool windowmove " + window + " 120 150");
    EXPECT_TRUE(eventually([&] { return client_rect(program) == "rect 120 150 300 200"; }))
        << client_rect(program);
    // The program's own resize moves the real window.
    program.send("size 200 100");
    EXPECT_TRUE(eventually([&] {
        Geometry g = window_geometry(id);
        return g.width == 200 && g.height == 100 && g.x == 120 && g.y == 150;
    }));
    EXPECT_EQ(client_rect(program), "rect 120 150 200 100");
}

} // namespace
