// Where the board's monitor and TV view open on screens of common sizes: inside the screen,
// clear of the test window, and clear of each other wherever the screen has room for that.
#include "fixture.h"

#include <algorithm>

using namespace sdltest;

namespace {

struct Screen {
    int width, height;
};

void PrintTo(const Screen& s, std::ostream* os) {
    *os << s.width << "x" << s.height;
}

long long shared_area(const Geometry& a, const Geometry& b) {
    long long w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    long long h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    return w > 0 && h > 0 ? w * h : 0;
}

bool inside(const Geometry& g, const Screen& s) {
    return g.x >= 0 && g.y >= 0 && g.x + g.width <= s.width && g.y + g.height <= s.height;
}

class Placement : public OnDesktop, public testing::WithParamInterface<Screen> {
protected:
    std::string screen() const override {
        return std::to_string(GetParam().width) + "x" + std::to_string(GetParam().height) + "x24";
    }
};

TEST_P(Placement, BoardWindowsOpenOnTheScreenClearOfTheTestWindowAndOfEachOther) {
    const Screen s = GetParam();
    const std::string data = std::string(WINTEST_SOURCE_DIR) + "/data";
    Program program;
    ASSERT_TRUE(start(program,
                      {"0", bitmap(), data, "SOFTWARE\\Kavix\\Board", "SOFTWARE\\Kavix\\Default"},
                      {{"WINTEST_TV_WINDOW", "1"}}));
    unsigned long test = find_window("Kavix TV Adjustment");
    unsigned long monitor = find_window("Board screen"), tv = find_window("TV view");
    ASSERT_NE(test, 0u);
    ASSERT_NE(monitor, 0u);
    ASSERT_NE(tv, 0u);
    Geometry t = window_geometry(test), m = window_geometry(monitor), v = window_geometry(tv);
    for (const Geometry& g : {t, m, v})
        EXPECT_TRUE(inside(g, s)) << g.x << "," << g.y << " " << g.width << "x" << g.height;
    EXPECT_EQ(shared_area(m, t), 0) << "the monitor covers the test window";
    if (s.width >= 1280 && s.height >= 1024) {
        EXPECT_EQ(shared_area(v, m), 0) << "the TV view covers the monitor";
        EXPECT_EQ(shared_area(v, t), 0) << "the TV view covers the test window";
    } else {
        // Two 640 x 480 windows and the test window cannot all be clear on 1024 x 768: the
        // TV view covers the least it can, and never most of the monitor.
        EXPECT_LT(shared_area(v, m), (long long)m.width * m.height / 4);
    }
    if (s.width >= 1664) { // beside the program's 1024 x 768 desktop, the TV view below
        EXPECT_EQ(m.x, 1024);
        EXPECT_EQ(m.y, 0);
        EXPECT_EQ(v.x, 1024);
        EXPECT_EQ(v.y, m.height + 40);
    }
    shell("xdotool key --window " + std::to_string(test) + " Escape");
    program.wait_exit();
}

INSTANTIATE_TEST_SUITE_P(CommonScreens, Placement,
                         testing::Values(Screen{1024, 768}, Screen{1280, 1024}, Screen{1920, 1200}),
                         [](const testing::TestParamInfo<Screen>& p) {
                             return std::to_string(p.param.width) + "x" +
                                    std::to_string(p.param.height);
                         });

} // namespace
