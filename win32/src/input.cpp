// Keyboard input and key state, and the harness through which input is injected.
#include "user.h"

#include "win32/harness.h"

using namespace win32;

namespace {

bool is_system_key(UINT vk) {
    const User& user = User::the();
    return vk == VK_F10 || vk == VK_MENU || vk == VK_LMENU || vk == VK_RMENU ||
           user.physical_key(VK_MENU) || user.physical_key(VK_LMENU) || user.physical_key(VK_RMENU);
}

// A rough set-1 scan code, enough for lParam bits 16 to 23.
UINT scan_code(UINT vk) {
    static const char letters[] = "\x1e\x30\x2e\x20\x12\x21\x22\x23\x17\x24\x25\x26\x32\x31\x18"
                                  "\x19\x10\x13\x1f\x14\x16\x2f\x11\x2d\x15\x2c";
    if (vk >= 'A' && vk <= 'Z')
        return UINT(static_cast<unsigned char>(letters[vk - 'A']));
    if (vk >= '1' && vk <= '9')
        return 0x02 + (vk - '1');
    switch (vk) {
    case '0':
        return 0x0B;
    case VK_ESCAPE:
        return 0x01;
    case VK_RETURN:
        return 0x1C;
    case VK_SPACE:
        return 0x39;
    case VK_SHIFT:
        return 0x2A;
    case VK_MENU:
        return 0x38;
    default:
        return 0;
    }
}

} // namespace

namespace win32::harness {

bool inject_key(UINT vk, bool down, HWND target) {
    vk &= 0xFF;
    if (!target)
        target = User::the().focus();
    if (!target || !User::the().window(target))
        return false;
    bool was_down = User::the().physical_key(vk);
    bool sys = is_system_key(vk);
    User::the().set_physical_key(vk, down);
    MSG m{};
    m.hwnd = target;
    m.message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    m.wParam = vk;
    LPARAM lp = 1 | LPARAM(scan_code(vk) << 16);
    if (User::the().physical_key(VK_MENU) && vk != VK_MENU)
        lp |= LPARAM(1) << 29;
    if (was_down)
        lp |= LPARAM(1) << 30;
    if (!down)
        lp |= LPARAM(1) << 31 | LPARAM(1) << 30;
    m.lParam = lp;
    User::the().post(m, true);
    return true;
}

platform::Image window_image(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    return w ? w->surface : platform::Image();
}

std::string cursor_name(HCURSOR cursor) {
    if (cursor == LoadCursorA(nullptr, IDC_ARROW))
        return "arrow";
    if (cursor == LoadCursorA(nullptr, IDC_WAIT))
        return "wait";
    return "";
}

} // namespace win32::harness

extern "C" SHORT WINAPI GetKeyState(int virtKey) {
    return User::the().key_state(virtKey);
}
