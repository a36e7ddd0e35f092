// Helpers shared by the gamma test suites: a recorder of platform events, the settings key
// of a case, and an open board for the in-process cases.
#pragma once

#include "glide.h"
#include "platform/events.h"
#include "settings/board_settings.h"
#include "shell.h"
#include "gamma/gamma.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace gamma_test {

// Every event of this process while it lives, with what a key of the gamma test can cause.
class EventLog : public test_support::EventRecorder {
public:
    std::vector<platform::Event> broadcasts() const { return of(platform::EventKind::Broadcast); }
    std::vector<platform::Event> gamma_calls() const { return of(platform::EventKind::Gamma); }
    size_t beeps() const { return count(platform::EventKind::Beep); }

    // Broadcasts, board gamma calls and beeps: everything a key can cause.
    size_t effects() const { return broadcasts().size() + gamma_calls().size() + beeps(); }
};

// The text stored under CurrentKeyPath, or "<unreadable>".
inline std::string stored(const char* name) {
    char text[BOARD_SETTING_AREA_SIZE];
    if (!ReadBoardSetting(HKEY_LOCAL_MACHINE, CurrentKeyPath, name, text))
        return "<unreadable>";
    return text;
}

inline void open_board() {
    grGlideInit();
    grSstSelect(0);
    ASSERT_TRUE(grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR,
                             GR_ORIGIN_LOWER_LEFT, 2, 1));
}

// Puts the shared gamma and key state back to their values at program start.
inline void reset_gamma_state() {
    GammaState = {0.0f, 0.0f, 0.0f, 1};
    GammaKeyState = {};
    ShiftDown = 0;
}

inline void use_key(const std::string& name) {
    std::string path = "SOFTWARE\\Kavix\\GammaTest\\" + name;
    std::memset(CurrentKeyPath, 0, sizeof(CurrentKeyPath));
    std::strncpy(CurrentKeyPath, path.c_str(), sizeof(CurrentKeyPath) - 1);
}

// The in-process fixture: open board, the gamma window (once per process),
// start state, a settings key named after the test, and a fresh event log.
class GammaFixture : public ::testing::Test {
protected:
    void SetUp() override {
        open_board();
        static bool window_made = false;
        if (!window_made) {
            CreateGammaMessageWindow();
            window_made = true;
        }
        reset_gamma_state();
        use_key(::testing::UnitTest::GetInstance()->current_test_info()->name());
        m_log.clear();
    }
    void TearDown() override { grGlideShutdown(); }

    // Sends a property-sheet message the way the sheet does: to every top-level window.
    static void from_sheet(UINT message, WPARAM wParam) {
        SendMessageA(HWND_BROADCAST, message, wParam, 0);
    }

    // Presses a key n times, Shift held or not.
    static void press(char key, int times = 1, bool shift = false) {
        ShiftDown = shift ? 1 : 0;
        for (int i = 0; i < times; i++)
            HandleGammaKey(static_cast<signed char>(key));
    }

    EventLog m_log;
};

inline WPARAM packed(int red, int green, int blue) {
    return static_cast<WPARAM>(red | green << 8 | blue << 16);
}

} // namespace gamma_test
