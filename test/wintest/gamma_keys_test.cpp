// The keys of the gamma adjustment run, driven in-process through HandleGammaKey with the
// real window manager, settings store and board underneath.
#include "gamma_test_support.h"
#include "sheet_messages.h"

#include <cmath>
#include <vector>

using gamma_test::GammaFixture;
using gamma_test::packed;
using gamma_test::stored;

namespace {

const char* const ChangedName = KVXPS_GLIDE_GAMMA_CHANGED;
const char* const EnableName = KVXPS_GLIDE_GAMMA_ENABLE;
const char* const DefaultName = KVXPS_GLIDE_GAMMA_DEFAULT;

using GammaKeys = GammaFixture;

TEST_F(GammaKeys, ShiftRFromUnsetStartsAtDefaultAndSendsOnlyRed) {
    press('R', 1, true);

    EXPECT_FLOAT_EQ(GammaState.redGamma, 1.8f);
    EXPECT_EQ(GammaState.greenGamma, 0.0f);
    EXPECT_EQ(GammaState.blueGamma, 0.0f);
    auto calls = m_log.gamma_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FLOAT_EQ(calls[0].gamma[0], 1.8f);
    EXPECT_EQ(calls[0].gamma[1], 0.0f);
    EXPECT_EQ(calls[0].gamma[2], 0.0f);
    auto sent = m_log.broadcasts();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].name, ChangedName);
    EXPECT_EQ(sent[0].wparam, 18u);
    EXPECT_EQ(sent[0].lparam, 0);
    EXPECT_EQ(m_log.beeps(), 0u);
}

TEST_F(GammaKeys, RDownClampsAtHalfOnTwelfthPressAndBeepsEveryPressAfter) {
    GammaState.redGamma = DefaultGamma;
    for (int i = 1; i <= 11; i++) {
        press('R');
        EXPECT_GT(GammaState.redGamma, 0.5f) << "press " << i;
    }
    EXPECT_EQ(m_log.beeps(), 0u);
    // From the fifth press on the values lie just under a tenth: rounded, not cut.
    std::vector<uint64_t> tenths;
    for (auto& e : m_log.broadcasts())
        tenths.push_back(e.wparam);
    EXPECT_EQ(tenths, (std::vector<uint64_t>{16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6}));

    press('R');
    EXPECT_EQ(GammaState.redGamma, 0.5f);
    EXPECT_EQ(m_log.beeps(), 1u);
    EXPECT_EQ(m_log.gamma_calls().back().gamma[0], 0.5f);

    press('R', 2);
    EXPECT_EQ(GammaState.redGamma, 0.5f);
    EXPECT_EQ(m_log.beeps(), 3u);
    // A clamped step still reaches the board and the property sheet.
    EXPECT_EQ(m_log.gamma_calls().size(), 14u);
    EXPECT_EQ(m_log.broadcasts().back().wparam, 5u);
}

TEST_F(GammaKeys, ShiftGFirstReachesFourOnTwentyFourthPress) {
    for (int i = 1; i <= 23; i++) {
        press('G', 1, true);
        EXPECT_LT(GammaState.greenGamma, 4.0f) << "press " << i;
    }
    EXPECT_EQ(m_log.beeps(), 0u);

    press('G', 1, true);
    EXPECT_EQ(GammaState.greenGamma, 4.0f);
    EXPECT_EQ(m_log.beeps(), 1u);
    EXPECT_EQ(m_log.broadcasts().back().wparam, packed(0, 40, 0));
    EXPECT_EQ(m_log.broadcasts().back().lparam, 1);
}

TEST_F(GammaKeys, TenthsAreRoundedNotCutAndSavedTextFollows) {
    GammaState.blueGamma = 2.0f;
    press('B', 1, true);

    EXPECT_LT(GammaState.blueGamma, 2.1); // just under 2.1: cutting would give 20 tenths
    EXPECT_EQ(GammaKeyState.blueTenths, 21);
    EXPECT_EQ(m_log.broadcasts().back().wparam, packed(0, 0, 21));
    EXPECT_EQ(m_log.broadcasts().back().lparam, 2);

    press('\r');
    EXPECT_EQ(stored("SST_BGAMMA"), "2.1");
    EXPECT_EQ(stored("=CurrGammaColor"), "Blue");
}

TEST_F(GammaKeys, AllRestartsFromDefaultWhenAnyChannelIsUnset) {
    GammaState.redGamma = 2.5f;
    GammaState.blueGamma = 3.0f;
    press('A');

    EXPECT_FLOAT_EQ(GammaState.redGamma, 1.6f);
    EXPECT_FLOAT_EQ(GammaState.greenGamma, 1.6f);
    EXPECT_FLOAT_EQ(GammaState.blueGamma, 1.6f);
    auto calls = m_log.gamma_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FLOAT_EQ(calls[0].gamma[0], 1.6f);
    EXPECT_FLOAT_EQ(calls[0].gamma[1], 1.6f);
    EXPECT_FLOAT_EQ(calls[0].gamma[2], 1.6f);
    EXPECT_EQ(m_log.broadcasts().back().wparam, packed(16, 16, 16));
    EXPECT_EQ(m_log.broadcasts().back().lparam, 3);

    press('\r');
    EXPECT_EQ(stored("=CurrGammaColor"), "RGB");
}

TEST_F(GammaKeys, AllBeepsOncePerClampedChannel) {
    GammaState.redGamma = 0.5f;
    GammaState.greenGamma = 2.0f;
    GammaState.blueGamma = 0.5f;
    press('A');
    EXPECT_EQ(m_log.beeps(), 2u);
    EXPECT_EQ(GammaState.redGamma, 0.5f);
    EXPECT_FLOAT_EQ(GammaState.greenGamma, 1.9f);
    EXPECT_EQ(GammaState.blueGamma, 0.5f);
}

TEST_F(GammaKeys, StepKeysDoNothingWhileCorrectionIsOff) {
    GammaState.gammaEnabled = 0;
    GammaState.redGamma = 2.0f;
    for (bool shift : {false, true})
        for (char key : {'R', 'G', 'B', 'A'})
            press(key, 1, shift);

    EXPECT_EQ(m_log.effects(), 0u);
    EXPECT_EQ(GammaState.redGamma, 2.0f);
    EXPECT_EQ(GammaState.greenGamma, 0.0f);
    EXPECT_EQ(GammaState.blueGamma, 0.0f);
    EXPECT_EQ(GammaKeyState.packedTenths, 0u);
}

TEST_F(GammaKeys, CodesOutsideTheKeyTableDoNothing) {
    // Shift itself, keypad 2, F3 (0x72, never a lower-case r), Z, the semicolon key (-70), 0.
    for (int code : {0x10, 0x62, 0x72, 0x5A, -70, 0, 0x30, 0x61})
        HandleGammaKey(static_cast<signed char>(code));
    EXPECT_EQ(m_log.effects(), 0u);
    EXPECT_EQ(GammaState.redGamma, 0.0f);
    EXPECT_EQ(GammaState.gammaEnabled, 1);
}

TEST_F(GammaKeys, DefaultKeySetsValuesAndTellsOnlyWhileOn) {
    GammaState.gammaEnabled = 0;
    press('1');
    EXPECT_EQ(m_log.effects(), 0u);
    EXPECT_EQ(GammaState.redGamma, DefaultGamma);
    EXPECT_EQ(GammaState.blueGamma, DefaultGamma);
    press('\r');
    EXPECT_EQ(stored("SST_RGAMMA"), "1.7");
    EXPECT_EQ(stored("SST_GGAMMA"), "1.7");
    EXPECT_EQ(stored("SST_BGAMMA"), "1.7");
    EXPECT_EQ(stored("=CurrGammaEnable"), "0");

    GammaState.gammaEnabled = 1;
    GammaState.greenGamma = 3.0f;
    press('G', 1, true);
    m_log.clear();
    press('1');
    EXPECT_EQ(GammaState.greenGamma, DefaultGamma);
    auto calls = m_log.gamma_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].gamma[0], DefaultGamma);
    EXPECT_EQ(calls[0].gamma[1], DefaultGamma);
    EXPECT_EQ(calls[0].gamma[2], DefaultGamma);
    ASSERT_EQ(m_log.broadcasts().size(), 1u);
    EXPECT_EQ(m_log.broadcasts()[0].name, DefaultName);
    EXPECT_EQ(m_log.broadcasts()[0].wparam, 0u);
    // The tenths and the channel keep what the last step computed.
    EXPECT_EQ(GammaKeyState.greenTenths, 31);
    EXPECT_EQ(GammaKeyState.selectedChannel, 1);
}

TEST_F(GammaKeys, DisableKeyResetsBoardAndBlocksSteps) {
    GammaState.redGamma = 2.0f;
    press('R', 1, true);
    m_log.clear();

    press('D');
    EXPECT_EQ(GammaState.gammaEnabled, 0);
    EXPECT_EQ(GammaState.redGamma, DefaultGamma);
    EXPECT_EQ(GammaKeyState.selectedChannel, 3);
    EXPECT_EQ(GammaKeyState.redTenths, 21);
    auto calls = m_log.gamma_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].gamma[0], DefaultGamma);
    EXPECT_EQ(calls[0].gamma[1], DefaultGamma);
    EXPECT_EQ(calls[0].gamma[2], DefaultGamma);
    ASSERT_EQ(m_log.broadcasts().size(), 1u);
    EXPECT_EQ(m_log.broadcasts()[0].name, EnableName);
    EXPECT_EQ(m_log.broadcasts()[0].wparam, 0u);

    m_log.clear();
    press('R');
    EXPECT_EQ(m_log.effects(), 0u);
    EXPECT_EQ(GammaState.redGamma, DefaultGamma);
}

TEST_F(GammaKeys, EnableKeyOnlyAsksWhenNoSheetAnswers) {
    GammaState.gammaEnabled = 0;
    press('E');
    EXPECT_EQ(GammaState.gammaEnabled, 0);
    ASSERT_EQ(m_log.broadcasts().size(), 1u);
    EXPECT_EQ(m_log.broadcasts()[0].name, EnableName);
    EXPECT_EQ(m_log.broadcasts()[0].wparam, 1u);
    EXPECT_TRUE(m_log.gamma_calls().empty());
}

// A stand-in for the property sheet: a second top-level window that answers an enable
// request with its own enable broadcast, while the request is still being delivered.
LRESULT CALLBACK AnsweringSheetProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == GammaMsgEnable && wParam == 1)
        SendMessageA(HWND_BROADCAST, GammaMsgSheetEnable, 1, 0);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST_F(GammaKeys, EnableKeySwitchesOnWhenTheSheetAnswersInsideTheBroadcast) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = AnsweringSheetProc;
    wc.lpszClassName = "GammaTestAnsweringSheet";
    RegisterClassA(&wc);
    HWND sheet = CreateWindowExA(0, wc.lpszClassName, "sheet", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                 NULL, NULL, NULL, NULL);
    ASSERT_NE(sheet, nullptr);
    GammaState.gammaEnabled = 0;

    press('E'); // no message pumping after this: the answer came during the broadcast
    EXPECT_EQ(GammaState.gammaEnabled, 1);
    EXPECT_TRUE(m_log.gamma_calls().empty()); // switching on keeps the board's curve

    press('R', 1, true);
    EXPECT_FLOAT_EQ(GammaState.redGamma, 1.8f);
    DestroyWindow(sheet);
}

TEST_F(GammaKeys, EnterBeforeAnyChangeSavesUnsetValuesAndRed) {
    press('\r');
    EXPECT_EQ(stored("SST_RGAMMA"), "0.0");
    EXPECT_EQ(stored("SST_GGAMMA"), "0.0");
    EXPECT_EQ(stored("SST_BGAMMA"), "0.0");
    EXPECT_EQ(stored("=CurrGammaColor"), "Red");
    EXPECT_EQ(stored("=CurrGammaEnable"), "1");
    EXPECT_TRUE(m_log.broadcasts().empty()); // saving sends nothing
}

} // namespace
