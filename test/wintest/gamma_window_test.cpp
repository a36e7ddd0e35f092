// The hidden gamma message window: what the property sheet's broadcasts do to the gamma
// state and the board.
#include "gamma_test_support.h"
#include "sheet_messages.h"

using gamma_test::GammaFixture;
using gamma_test::packed;

namespace {

using GammaWindow = GammaFixture;

TEST_F(GammaWindow, IsAHiddenOverlappedWindowOfItsOwnClass) {
    HWND window = FindWindowA("KVXMyWindow", "Kavix Gamma Correction Adjustment");
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)) &
                  (WS_OVERLAPPEDWINDOW | WS_VISIBLE),
              static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    // The seven names in their order, and the shared ones equal to the shell's numbers.
    EXPECT_EQ(PropertySheetClosedMessage, RegisterWindowMessageA(KVXPS_SHEET_CLOSED));
    EXPECT_NE(GammaMsgChanged, 0u);
    EXPECT_NE(GammaMsgSheetEnable, GammaMsgEnable);
}

TEST_F(GammaWindow, SheetChangeStoresTenthsAndReachesBoardWhileOn) {
    // Bits 24 to 31 are not part of any channel.
    from_sheet(GammaMsgSheetChanged, packed(19, 18, 17) | 0xAB000000u);

    EXPECT_FLOAT_EQ(GammaState.redGamma, 1.9f);
    EXPECT_FLOAT_EQ(GammaState.greenGamma, 1.8f);
    EXPECT_FLOAT_EQ(GammaState.blueGamma, 1.7f);
    auto calls = m_log.gamma_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FLOAT_EQ(calls[0].gamma[0], 1.9f);
    EXPECT_FLOAT_EQ(calls[0].gamma[1], 1.8f);
    EXPECT_FLOAT_EQ(calls[0].gamma[2], 1.7f);
    EXPECT_EQ(GammaKeyState.packedTenths, 0u);
}

TEST_F(GammaWindow, SheetChangeWhileOffIsStoredButNotSent) {
    GammaState.gammaEnabled = 0;
    from_sheet(GammaMsgSheetChanged, packed(0, 255, 10));

    EXPECT_EQ(GammaState.redGamma, 0.0f);
    EXPECT_FLOAT_EQ(GammaState.greenGamma, 25.5f); // taken as sent, no range check
    EXPECT_FLOAT_EQ(GammaState.blueGamma, 1.0f);
    EXPECT_TRUE(m_log.gamma_calls().empty());
}

TEST_F(GammaWindow, StepAfterSheetChangeSendsTenthsTheKeysComputed) {
    GammaState.greenGamma = 2.0f;
    press('G', 1, true); // green tenths 21
    from_sheet(GammaMsgSheetChanged, packed(19, 30, 0));
    m_log.clear();

    press('R');
    EXPECT_FLOAT_EQ(GammaState.redGamma, 1.8f);
    ASSERT_FALSE(m_log.broadcasts().empty());
    EXPECT_EQ(m_log.broadcasts().back().wparam, packed(18, 21, 0));

    // A channel the sheet set to zero starts again from the default.
    press('B', 1, true);
    EXPECT_FLOAT_EQ(GammaState.blueGamma, 1.8f);
}

TEST_F(GammaWindow, SheetEnableOneSwitchesOnWithoutBoardCall) {
    from_sheet(GammaMsgSheetEnable, 1);
    EXPECT_EQ(GammaState.gammaEnabled, 1);
    GammaState.gammaEnabled = 0;
    from_sheet(GammaMsgSheetEnable, 1);
    EXPECT_EQ(GammaState.gammaEnabled, 1);
    EXPECT_TRUE(m_log.gamma_calls().empty());
}

TEST_F(GammaWindow, SheetEnableOtherThanOneSwitchesOffAndResetsBoardOnly) {
    for (WPARAM value : {WPARAM{0}, WPARAM{2}}) {
        GammaState = {1.9f, 2.2f, 3.3f, 1};
        m_log.clear();
        from_sheet(GammaMsgSheetEnable, value);

        EXPECT_EQ(GammaState.gammaEnabled, 0) << "wParam " << value;
        EXPECT_EQ(GammaState.redGamma, 1.9f);
        EXPECT_EQ(GammaState.blueGamma, 3.3f);
        auto calls = m_log.gamma_calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].gamma[0], DefaultGamma);
        EXPECT_EQ(calls[0].gamma[1], DefaultGamma);
        EXPECT_EQ(calls[0].gamma[2], DefaultGamma);
    }
}

TEST_F(GammaWindow, ProgramsOwnBroadcastsHaveNoEffectHere) {
    GammaState = {1.9f, 2.2f, 3.3f, 0};
    for (UINT message : {GammaMsgChanged, GammaMsgAppClosed, GammaMsgEnable, GammaMsgDefault})
        from_sheet(message, 1);
    EXPECT_EQ(GammaState.gammaEnabled, 0);
    EXPECT_EQ(GammaState.redGamma, 1.9f);
    EXPECT_TRUE(m_log.gamma_calls().empty());
}

} // namespace
