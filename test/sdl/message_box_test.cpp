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
        std::string a = m_program.wait_line("answer ", wait, m_from);
        if (a.empty())
            a = "(program exit " + std::to_string(m_program.wait_exit(0ms, true)) + ")";
        return a;
    }

    // Types keys into the box and returns its answer. On a loaded machine a key typed the
    // moment a window takes the focus is now and then lost by the X server and toolkit, so
    // the keys go again when no answer came.
    std::string type_into(unsigned long box, const std::string& keys) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            focus(box);
            shell("xdotool key " + keys);
            std::string a = answer(3s);
            if (a.rfind("answer ", 0) == 0)
                return a;
        }
        std::string seen;
        for (const auto& l : m_program.lines())
            seen += l + "\n";
        ADD_FAILURE() << "no answer to " << keys << "; the program said:\n"
                      << seen << "exit: " << m_program.wait_exit(0ms, true);
        return "";
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
    EXPECT_EQ(answer(300ms), "(program exit -1)") << "the box went away by itself";

    EXPECT_EQ(type_into(box, "Return"), "answer 1"); // IDOK
    EXPECT_TRUE(eventually([&] { return find_window("Allocation Failure", 100ms) == 0; }));
}

TEST_F(MessageBox, AnswersEscapeCloseButtonLettersTabAndClicks) {
    unsigned long box = open_box(MB_OKCANCEL, "Question one", "Escape means Cancel");
    EXPECT_EQ(type_into(box, "Escape"), "answer 2"); // IDCANCEL

    box = open_box(MB_OKCANCEL, "Question two", "Closing means Cancel");
    click_close_button(box);
    EXPECT_EQ(answer(), "answer 2");

    box = open_box(MB_YESNO, "Question three", "N means No");
    EXPECT_EQ(type_into(box, "n"), "answer 7"); // IDNO

    box = open_box(MB_YESNO, "Question four", "Tab moves to No");
    EXPECT_EQ(type_into(box, "Tab Return"), "answer 7");

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
    for (int round = 0; round < 2; ++round) { // the program's loop has read what X sent
        size_t seen = m_program.lines().size();
        m_program.send("ping");
        ASSERT_FALSE(m_program.wait_line("pong", 10s, seen).empty());
    }
    EXPECT_EQ(type_into(box, "space"), "answer 1");
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
