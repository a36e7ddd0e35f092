// The program's three tests on the real display: the board's monitor and TV view in windows
// of their own show what the headless run of the same keys shows, keys typed into any of the
// program's windows drive the test, and the rare paths (a refused resize, the close button)
// end it as on Windows.
#include "fixture.h"

#include "bitmap_font.h"

using namespace sdltest;

namespace {

const std::string kData = std::string(WINTEST_SOURCE_DIR) + "/data";
const std::string kLogo = kData + "/kvxlogo.bmp";

std::vector<std::string> glide_words() {
    return {"2", kLogo, kData + "/sample256.3df"};
}
std::vector<std::string> gamma_words() {
    return {"1", kLogo, kData, "SOFTWARE\\Kavix\\Board"};
}
std::vector<std::string> tv_words() {
    return {"0", kLogo, kData, "SOFTWARE\\Kavix\\Board", "SOFTWARE\\Kavix\\Default"};
}

class Modes : public OnDesktop {
protected:
    // The board's pictures and the test window of a headless run of the same words, after
    // the keys (virtual-key codes) and once `settled` has been printed that many times.
    struct Pictures {
        platform::Image window, screen, tv;
        std::vector<platform::Image> tv_fields; // the TV window's picture in each field
    };
    Pictures headless(const std::vector<std::string>& words, const std::vector<int>& keys = {},
                      const std::string& settled = "", int times = 0) {
        Program program;
        Pictures p;
        if (!start(program, words, {}, "headless"))
            return p;
        for (int vk : keys)
            program.send("key " + std::to_string(vk) + " press");
        EXPECT_TRUE(eventually([&] { return count(program, settled) >= times; }));
        EXPECT_TRUE(eventually([&] { return frames(program) >= 3; }))
            << "the board shows no frames";
        program.send("snap " + m_dir.path());
        EXPECT_FALSE(program.wait_line("snapped").empty());
        p.window = platform::read_png(m_dir.path() + "/window.png");
        p.screen = platform::read_png(m_dir.path() + "/screen.png");
        p.tv = platform::read_png(m_dir.path() + "/tv.png");
        for (int n = 0;; ++n) {
            platform::Image field =
                platform::read_png(m_dir.path() + "/tv-field-" + std::to_string(n) + ".png");
            if (field.empty())
                break;
            p.tv_fields.push_back(field);
        }
        return p;
    }

    static long frames(Program& program) {
        size_t from = program.lines().size();
        program.send("frames");
        std::string line = program.wait_line("frames ", 2s, from);
        return line.empty() ? -1 : atol(line.c_str() + 7);
    }

    static int count(Program& program, const std::string& prefix) {
        if (prefix.empty())
            return 0;
        int n = 0;
        for (const auto& l : program.lines())
            n += l.rfind(prefix, 0) == 0;
        return n;
    }

    // Waits until the window shows exactly the expected picture (one of them: the TV view
    // shows its fields in turn).
    static void expect_shows(unsigned long window, const std::vector<platform::Image>& expected,
                             const char* what) {
        ASSERT_NE(window, 0u) << "no window for " << what;
        ASSERT_FALSE(expected.empty() || expected[0].empty()) << "no headless picture of " << what;
        platform::Image shown;
        Difference d;
        EXPECT_TRUE(eventually([&] {
            shown = capture(window);
            for (const platform::Image& picture : expected) {
                d = compare(picture, shown);
                if (d.count == 0)
                    return true;
            }
            return false;
        })) << what
            << ": " << d.count << " pixels differ (-1: size " << shown.width << "x" << shown.height
            << " for " << expected[0].width << "x" << expected[0].height << "), first at " << d.x
            << "," << d.y << ": " << std::hex << d.actual << " for " << d.expected;
    }
    static void expect_shows(unsigned long window, const platform::Image& expected,
                             const char* what) {
        expect_shows(window, std::vector<platform::Image>{expected}, what);
    }
};

TEST_F(Modes, GlideTestShowsTheTextureOnTheBoardsMonitorAndEndsOnEscapeThere) {
    Program program;
    ASSERT_TRUE(start(program, glide_words()));
    Pictures expected = headless(glide_words());
    unsigned long board = find_window("Board screen");
    expect_shows(board, expected.screen, "the board's monitor");
    expect_shows(find_window("Kavix Glide Test"), expected.window, "the test window");
    EXPECT_EQ(find_window("TV view", 200ms), 0u) << "the TV view opens only when asked";
    // The board owns the screen: keys typed there go to the program's focus window.
    focus(board);
    shell("xdotool key Escape");
    EXPECT_EQ(program.wait_line("event broadcast"),
              "event broadcast KVXPS Test Gamma Application Closed |  | 0 0");
    EXPECT_EQ(program.wait_exit(), 0);
}

TEST_F(Modes, CloseButtonInTheGlideTestBroadcastsTheGammaTestsEnd) {
    Program program;
    ASSERT_TRUE(start(program, glide_words()));
    click_close_button(find_window("Kavix Glide Test"));
    EXPECT_EQ(program.wait_line("event broadcast"),
              "event broadcast KVXPS Test Gamma Application Closed |  | 0 0");
    EXPECT_EQ(program.wait_exit(), 0);
}

TEST_F(Modes, TvTestFollowsTypedKeysOnItsTvView) {
    Program program;
    ASSERT_TRUE(start(program, tv_words(), {{"WINTEST_TV_WINDOW", "1"}}));
    unsigned long window = find_window("Kavix TV Adjustment");
    ASSERT_NE(window, 0u);
    focus(window);
    shell("xdotool key Left Left Up");
    EXPECT_TRUE(eventually([&] { return count(program, "event debug") >= 3; }));
    auto lines = program.lines();
    std::vector<std::string> traces;
    for (const auto& l : lines)
        if (l.rfind("event debug", 0) == 0)
            traces.push_back(l);
    EXPECT_EQ(traces, (std::vector<std::string>{"event debug  | left\\n | 0 0",
                                                "event debug  | left\\n | 0 0",
                                                "event debug  | up\\n | 0 0"}));

    Pictures expected = headless(tv_words(), {VK_LEFT, VK_LEFT, VK_UP}, "event debug", 3);
    expect_shows(find_window("TV view"), expected.tv_fields, "the TV view");
    expect_shows(find_window("Board screen"), expected.screen, "the board's monitor");

    shell("xdotool key Escape");
    EXPECT_EQ(program.wait_line("event broadcast"),
              "event broadcast KVXPS Test TV Application Closed |  | 1 0");
    EXPECT_EQ(program.wait_exit(), 0);
}

TEST_F(Modes, GammaTestTakesShiftedKeysAndShowsTheNewCurve) {
    // The property sheet turns correction on; then, with Shift held, R steps the red gamma
    // down and G steps green up. Each change reaches the board (an event) and the property
    // sheet (a broadcast).
    const std::string enable = "sheet 1 0 KVXPS Property Sheet Gamma Correction Enable";
    Program program;
    ASSERT_TRUE(start(program, gamma_words()));
    program.send(enable);
    focus(find_window("Kavix Gamma Correction Adjustment"));
    shell("xdotool key shift+r g");
    EXPECT_TRUE(eventually([&] {
        return count(program, "event broadcast KVXPS Glide Gamma "
                              "Correction Changed") >= 2;
    }));
    std::vector<std::string> changes;
    for (const auto& l : program.lines())
        if (l.rfind("event gamma", 0) == 0 || l.rfind("event broadcast", 0) == 0)
            changes.push_back(l);

    Program headless_run;
    ASSERT_TRUE(start(headless_run, gamma_words(), {}, "headless"));
    headless_run.send(enable);
    for (const char* key : {"0x10 down", "0x52 press", "0x10 up", "0x47 press"})
        headless_run.send(std::string("key ") + key);
    EXPECT_TRUE(eventually([&] {
        return count(headless_run, "event broadcast KVXPS Glide Gamma Correction Changed") >= 2;
    }));
    std::vector<std::string> expected_changes;
    for (const auto& l : headless_run.lines())
        if (l.rfind("event gamma", 0) == 0 || l.rfind("event broadcast", 0) == 0)
            expected_changes.push_back(l);
    EXPECT_EQ(changes, expected_changes);
    EXPECT_TRUE(eventually([&] { return frames(headless_run) > 3; }));
    headless_run.send("snap " + m_dir.path());
    ASSERT_FALSE(headless_run.wait_line("snapped").empty());
    expect_shows(find_window("Board screen"), platform::read_png(m_dir.path() + "/screen.png"),
                 "the board's monitor");
}

TEST_F(Modes, ResizeRefusedByTheOpenBoardShowsTheBoxOnceThenEndsTheTest) {
    Program program;
    ASSERT_TRUE(start(program, tv_words(), {{"WINTEST_REFUSE_RESIZE", "open"}}));
    unsigned long window = find_window("Kavix TV Adjustment");
    ASSERT_NE(window, 0u);
    shell("xdotool windowsize " + std::to_string(window) + " 200 150");
    EXPECT_EQ(program.wait_line("event messagebox"),
              "event messagebox Allocation Failure | Resize failed due to lack of sufficient "
              "buffer memory.\\n | 0 0");
    unsigned long box = find_window("Allocation Failure");
    const char* text = "Resize failed due to lack of sufficient buffer memory.\n";
    expect_shows(box, win32::MessageBoxView(text, MB_OK).render(), "the message box");
    int code = -1;
    for (int attempt = 0; attempt < 3 && code == -1; ++attempt) {
        focus(box);
        shell("xdotool key Return");
        code = program.wait_exit(3s, true);
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(count(program, "event messagebox"), 1);
}

} // namespace
