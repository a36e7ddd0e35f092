// Message boxes on the real display: a modal window of their own that shows the text, answers
// the keyboard and the mouse like a Windows message box, and keeps the program's messages
// flowing while it is up.
#include "fixture.h"

#include "bitmap_font.h"

using namespace sdltest;

namespace {

constexpr const char* kResizeText = "Resize failed due to lack of sufficient buffer memory.\n";

class MessageBox : public OnDesktop {
protected:
    void SetUp() override {
        OnDesktop::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(start_shell(m_program));
        m_window = find_window(kShellTitle);
        ASSERT_NE(m_window, 0u);
    }

    // Opens a box and returns its X window once it shows.
    unsigned long open_box(UINT type, const std::string& caption, const std::string& text) {
        m_from = m_program.lines().size();
        std::string escaped = text;
        for (size_t i = 0; (i = escaped.find('\n', i)) != std::string::npos;)
            escaped.erase(i, 1); // one command line; the text's break is tested by the view
        m_program.send("box " + std::to_string(type) + " " + caption + "|" + escaped);
        unsigned long box = find_window(caption);
        EXPECT_NE(box, 0u) << "no message box titled " << caption;
        return box;
    }

    std::string answer(std::chrono::milliseconds wait = 10s) {
        return m_program.wait_line("answer ", wait, m_from);
    }

    Program m_program;
    unsigned long m_window{0};
    size_t m_from{0};
};

TEST_F(MessageBox, ShowsItsTextAndButtonAndPumpsMessagesUntilAnswered) {
    unsigned long box = open_box(MB_OK, "Allocation Failure", kResizeText);
    ASSERT_NE(box, 0u);
    platform::Image expected = win32::MessageBoxView(kResizeText, MB_OK).render();
    platform::Image shown;
    Difference d;
    EXPECT_TRUE(eventually([&] {
        shown = capture(box);
        d = compare(expected, shown);
        return d.count == 0;
    })) << d.count
        << " pixels differ (-1: size " << shown.width << "x" << shown.height << ")";

    // The program's messages are dispatched while the box is up.
    size_t from = m_program.lines().size();
    m_program.send("ping");
    EXPECT_FALSE(m_program.wait_line("pong", 5s, from).empty());
    EXPECT_TRUE(answer(300ms).empty()) << "the box went away by itself";

    focus(box);
    shell("xdotool key Return");
    EXPECT_EQ(answer(), "answer 1"); // IDOK
    EXPECT_TRUE(eventually([&] { return find_window("Allocation Failure", 100ms) == 0; }));
}

TEST_F(MessageBox, AnswersEscapeCloseButtonLettersTabAndClicks) {
    unsigned long box = open_box(MB_OKCANCEL, "Question one", "Escape means Cancel");
    focus(box);
    shell("xdotool key Escape");
    EXPECT_EQ(answer(), "answer 2"); // IDCANCEL

    box = open_box(MB_OKCANCEL, "Question two", "Closing means Cancel");
    click_close_button(box);
    EXPECT_EQ(answer(), "answer 2");

    box = open_box(MB_YESNO, "Question three", "N means No");
    focus(box);
    shell("xdotool key n");
    EXPECT_EQ(answer(), "answer 7"); // IDNO

    box = open_box(MB_YESNO, "Question four", "Tab moves to No");
    focus(box);
    shell("xdotool key Tab Return");
    EXPECT_EQ(answer(), "answer 7");

    box = open_box(MB_YESNO | MB_DEFBUTTON2, "Question five", "A click on Yes");
    win32::MessageBoxView view("A click on Yes", MB_YESNO | MB_DEFBUTTON2);
    RECT yes = view.button_rect(0);
    eventually([&] { return window_geometry(box).width == view.width(); });
    shell("xdotool mousemove --window " + std::to_string(box) + " " +
          std::to_string((yes.left + yes.right) / 2) + " " +
          std::to_string((yes.top + yes.bottom) / 2) + " click 1");
    EXPECT_EQ(answer(), "answer 6"); // IDYES
}

TEST_F(MessageBox, OwnerTakesNoKeysAndCannotBeClosedWhileTheBoxIsUp) {
    unsigned long box = open_box(MB_OK, "Modal", "The owner waits");
    ASSERT_NE(box, 0u);
    focus(m_window);
    shell("xdotool key a b");
    click_close_button(m_window);
    std::this_thread::sleep_for(300ms);
    focus(box);
    shell("xdotool key space");
    EXPECT_EQ(answer(), "answer 1");
    // Back to the owner: it takes keys again, and none of those typed meanwhile arrived.
    size_t from = m_program.lines().size();
    focus(m_window);
    shell("xdotool key c");
    EXPECT_FALSE(m_program.wait_line("key 67 ", 5s, from).empty());
    for (const auto& line : m_program.lines()) {
        EXPECT_NE(line.rfind("key 65 ", 0), 0u) << "a key reached the owner under the box";
        EXPECT_NE(line.rfind("event broadcast", 0), 0u) << "the owner was closed under the box";
    }
}

} // namespace
