#include "sheet.h"
#include "sheet_messages.h"

namespace propsheet {

namespace {

// The one sheet of the process; the window procedure reaches its state through it.
SheetState* s_sheet = nullptr;

constexpr const char* kSheetClass = "KVXPropertySheetStandIn";

void register_messages(SheetState& s) {
    s.tv_scan = RegisterWindowMessageA(KVXPS_TV_UNDERSCAN_OVERSCAN);
    s.tv_closed = RegisterWindowMessageA(KVXPS_TV_APPLICATION_CLOSED);
    s.gamma_closed = RegisterWindowMessageA(KVXPS_GAMMA_APPLICATION_CLOSED);
    s.sheet_closed = RegisterWindowMessageA(KVXPS_SHEET_CLOSED);
    s.glide_changed = RegisterWindowMessageA(KVXPS_GLIDE_GAMMA_CHANGED);
    s.glide_enable = RegisterWindowMessageA(KVXPS_GLIDE_GAMMA_ENABLE);
    s.glide_default = RegisterWindowMessageA(KVXPS_GLIDE_GAMMA_DEFAULT);
    s.sheet_changed = RegisterWindowMessageA(KVXPS_SHEET_GAMMA_CHANGED);
    s.sheet_enable = RegisterWindowMessageA(KVXPS_SHEET_GAMMA_ENABLE);
}

// The test changed a gamma value: wParam holds the tenths, lParam the channel (3: all).
void on_glide_changed(SheetState& s, WPARAM wParam, LPARAM lParam) {
    int channel = int(lParam);
    for (int c = 0; c < 3; ++c)
        if (channel == c || channel == 3)
            s.tenths[c] = int((wParam >> (8 * c)) & 0xFF);
}

// The test asks for correction (wParam 1) or reports it switched correction off (0). The
// answer goes out at once, inside the test's broadcast, as the real sheet answers.
void on_glide_enable(SheetState& s, WPARAM wParam) {
    if (wParam != 1) {
        s.correction_on = false;
        return;
    }
    if (s.answer_enable)
        send_enable(s, true);
}

LRESULT CALLBACK SheetWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    SheetState* s = s_sheet;
    if (s && msg >= 0xC000) {
        if (msg == s->glide_changed)
            on_glide_changed(*s, wParam, lParam);
        else if (msg == s->glide_enable)
            on_glide_enable(*s, wParam);
        else if (msg == s->glide_default)
            s->tenths[0] = s->tenths[1] = s->tenths[2] = 17;
        else if (msg == s->tv_scan)
            s->scan_over = wParam != 0;
        else if (msg == s->tv_closed || msg == s->gamma_closed)
            s->test_closed = true;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

bool create_sheet_window(SheetState& state) {
    s_sheet = &state;
    register_messages(state);
    WNDCLASSA wc{};
    wc.lpfnWndProc = SheetWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kSheetClass;
    RegisterClassA(&wc);
    // Hidden, as the sheet's message window is: it only listens.
    state.window = CreateWindowExA(0, kSheetClass, "Display Properties", WS_OVERLAPPEDWINDOW,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   nullptr, nullptr, wc.hInstance, nullptr);
    return state.window != nullptr;
}

void send_gamma(SheetState& state, int red_tenths, int green_tenths, int blue_tenths) {
    state.tenths[0] = red_tenths;
    state.tenths[1] = green_tenths;
    state.tenths[2] = blue_tenths;
    WPARAM packed = WPARAM(red_tenths & 0xFF) | WPARAM(green_tenths & 0xFF) << 8 |
                    WPARAM(blue_tenths & 0xFF) << 16;
    SendMessageA(HWND_BROADCAST, state.sheet_changed, packed, 0);
}

void send_enable(SheetState& state, bool on) {
    state.correction_on = on;
    SendMessageA(HWND_BROADCAST, state.sheet_enable, on ? 1 : 0, 0);
}

void send_closed(SheetState& state) {
    SendMessageA(HWND_BROADCAST, state.sheet_closed, 0, 0);
}

} // namespace propsheet
