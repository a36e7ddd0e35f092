// The property sheet's side of the registered messages: a hidden top-level window that hears
// the test's broadcasts and answers them as the display property sheet does, and the
// messages the sheet sends. Written against the Win32 API only.
#pragma once

#include <windows.h>

namespace propsheet {

// What the sheet knows of the running test. Changed by SheetWindowProc (inside the message
// pumping and inside the sheet's own broadcasts) and by the senders below.
struct SheetState {
    HWND window{nullptr};
    bool answer_enable{true};  // answer an enable request by switching correction on
    bool correction_on{true};  // as far as the sheet knows
    int tenths[3]{17, 17, 17}; // red, green, blue gamma in tenths, as last heard or sent
    bool test_closed{false};   // the test announced its end
    bool scan_over{false};     // mode 0: the last underscan/overscan announcement

    UINT tv_scan{0}, tv_closed{0}, gamma_closed{0}, sheet_closed{0};
    UINT glide_changed{0}, glide_enable{0}, glide_default{0};
    UINT sheet_changed{0}, sheet_enable{0};
};

// Registers the messages and creates the hidden window; false when the window cannot be made.
bool create_sheet_window(SheetState& state);

// "KVXPS Property Sheet Gamma Correction Changed" with the three values packed in tenths
// (each 0 to 255).
void send_gamma(SheetState& state, int red_tenths, int green_tenths, int blue_tenths);
// "KVXPS Property Sheet Gamma Correction Enable" with wParam 1 (on) or 0 (off).
void send_enable(SheetState& state, bool on);
// "KVXPS Property Sheet Closed": the sheet goes away and the test ends.
void send_closed(SheetState& state);

} // namespace propsheet
