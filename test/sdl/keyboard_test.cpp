// The keyboard of the real display: keys typed on the X server (xdotool) reach the program
// as the virtual-key codes, repeats and system keys that Windows gives, within a frame.
#include "fixture.h"

#include <algorithm>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>

using namespace sdltest;

namespace {

constexpr int kMarker = 'Z';

using Codes = std::vector<int>;

class Keyboard : public OnDesktop {
protected:
    void SetUp() override {
        OnDesktop::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(start_shell(m_program));
        m_window = find_window(kShellTitle);
        ASSERT_NE(m_window, 0u);
        focus(m_window);
        // The first key goes after the window has taken the focus, so that no key is held
        // down while it does (the focus brings the keyboard's state, held keys included). On
        // a loaded machine a key typed the moment the focus arrives is now and then lost: the
        // marker goes again until one arrives. A marker that is only late would be taken for
        // the next one, so each is given long enough that only a lost one is sent again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            size_t from = m_program.lines().size();
            shell("xdotool key z");
            if (!m_program.wait_line("key 90 ", 10s, from).empty())
                break;
        }
    }

    // Types the keys (xdotool names), then Z as a marker; returns the codes that GetKey gave
    // before the marker, as the signed characters the tests see.
    std::vector<int> type(const std::string& keys) {
        size_t from = m_program.lines().size();
        shell("xdotool key " + keys + " z");
        EXPECT_FALSE(m_program.wait_line("key " + std::to_string(kMarker) + " ", 20s, from).empty())
            << "the marker key did not arrive after: " << keys;
        return codes_since(from);
    }

    std::vector<int> codes_since(size_t from) {
        std::vector<int> codes;
        auto lines = m_program.lines();
        for (size_t i = from; i < lines.size(); ++i) {
            int code = 0;
            if (sscanf(lines[i].c_str(), "key %d", &code) != 1)
                continue;
            if (code == kMarker)
                break;
            codes.push_back(code);
        }
        return codes;
    }

    Program m_program;
    unsigned long m_window{0};
};

TEST_F(Keyboard, KeysOfTheMainBlockGiveTheirVirtualKeyCodes) {
    EXPECT_EQ(type("a b y 0 1 9"), (Codes{0x41, 0x42, 0x59, 0x30, 0x31, 0x39}));
    EXPECT_EQ(type("Return Escape space BackSpace Tab"), (Codes{0x0D, 0x1B, 0x20, 0x08, 0x09}));
    EXPECT_EQ(type("Left Up Right Down Home End Prior Next Insert Delete"),
              (Codes{0x25, 0x26, 0x27, 0x28, 0x24, 0x23, 0x21, 0x22, 0x2D, 0x2E}));
    EXPECT_EQ(type("F1 F2 F4 F9 F11 F12"), (Codes{0x70, 0x71, 0x73, 0x78, 0x7A, 0x7B}));
    // Punctuation keys have codes from 0x80 up: GetKey gives them as negative characters.
    EXPECT_EQ(type("semicolon equal comma minus period slash grave"),
              (Codes{-70, -69, -68, -67, -66, -65, -64}));
    EXPECT_EQ(type("bracketleft backslash bracketright apostrophe"), (Codes{-37, -36, -35, -34}));
}

TEST_F(Keyboard, ShiftIsQueuedAndLettersKeepTheirCode) {
    // Shift+A: the Shift key's own code first, then the same code as a plain A.
    EXPECT_EQ(type("shift+a a"), (Codes{0x10, 0x41, 0x41}));
    EXPECT_EQ(type("ctrl+c"), (Codes{0x11, 0x43}));
}

TEST_F(Keyboard, NumericKeypadFollowsNumLock) {
    // Num Lock off: the keypad is a cursor block (keypad 5 is Clear).
    EXPECT_EQ(type("KP_End KP_Down KP_Begin KP_Prior KP_Insert KP_Delete"),
              (Codes{0x23, 0x28, 0x0C, 0x21, 0x2D, 0x2E}));
    EXPECT_EQ(type("KP_Divide KP_Multiply KP_Subtract KP_Add KP_Enter"),
              (Codes{0x6F, 0x6A, 0x6D, 0x6B, 0x0D}));
    // Num Lock on: the same keys give the keypad digits (0x62 is keypad 2, not a letter).
    EXPECT_EQ(type("Num_Lock KP_End KP_Down KP_Begin KP_Prior KP_Insert KP_Delete Num_Lock"),
              (Codes{-112, 0x61, 0x62, 0x65, 0x69, 0x60, 0x6E, -112}));
}

TEST_F(Keyboard, SystemKeysAreNotQueued) {
    // F10 and keys pressed with Alt arrive as WM_SYSKEYDOWN, which the test window ignores.
    EXPECT_EQ(type("F10 alt+x alt+F1"), Codes{});
    EXPECT_EQ(type("F10 a"), (Codes{0x41}));
}

TEST_F(Keyboard, HeldKeyRepeatsLikeAnyOther) {
    size_t from = m_program.lines().size();
    shell("xdotool keydown b sleep 1.2 keyup b key z");
    ASSERT_FALSE(m_program.wait_line("key 90 ", 5s, from).empty());
    Codes codes = codes_since(from);
    EXPECT_GE(codes.size(), 3u) << "the server repeats a held key after a delay";
    EXPECT_TRUE(std::all_of(codes.begin(), codes.end(), [](int c) { return c == 0x42; }));
}

long long monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Runs xdotool directly (no shell between) and returns when it has sent the key.
void xdotool_key(const char* key) {
    pid_t pid;
    const char* argv[] = {"xdotool", "key", key, nullptr};
    if (posix_spawnp(&pid, "xdotool", nullptr, nullptr, const_cast<char**>(argv), environ) == 0)
        waitpid(pid, nullptr, 0);
}

// A frame lasts 16.7 ms at 60 Hz. The key is sent some time between the start of xdotool and
// its end; the program reads it at its next frame. Figures go to the test's output.
TEST_F(Keyboard, KeyReachesTheProgramAtTheNextFrame) {
    constexpr int kTimes = 20;
    std::vector<double> upper, lower;
    for (int i = 0; i < kTimes; ++i) {
        size_t from = m_program.lines().size();
        long long before = monotonic_ns();
        xdotool_key("k");
        long long after = monotonic_ns();
        std::string line = m_program.wait_line("key 75 ", 5s, from);
        ASSERT_FALSE(line.empty());
        long long arrived = 0;
        ASSERT_EQ(sscanf(line.c_str(), "key %*d frame %*d t %lld", &arrived), 1) << line;
        upper.push_back((arrived - before) / 1e6);
        lower.push_back((arrived - after) / 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(23 + 7 * (i % 3)));
    }
    std::sort(upper.begin(), upper.end());
    std::sort(lower.begin(), lower.end());
    printf("key latency over %d keys: from xdotool's start median %.1f ms, max %.1f ms; "
           "from its end median %.1f ms, max %.1f ms\n",
           kTimes, upper[kTimes / 2], upper.back(), lower[kTimes / 2], lower.back());
    // The figures above are the measurement (one frame is the target); the check only catches
    // a key that waits for something else than the next frame, with room for a loaded machine.
    EXPECT_LT(lower[kTimes / 2], 250.0) << "a typed key waits for more than the next frame";
}

} // namespace
