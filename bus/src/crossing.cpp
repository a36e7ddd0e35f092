#include "crossing.h"

namespace bus {

namespace {

// System messages the declarations of the subset do not name.
constexpr UINT kSettingChange = 0x001A;
constexpr UINT kCommand = 0x0111;
constexpr UINT kMouseFirst = 0x0200, kMouseLast = 0x020D;
constexpr UINT kFirstRegistered = 0xC000;

} // namespace

Crossing crossing_of(UINT message, bool registered) {
    if (registered)
        return Crossing::Number; // crosses by its name; its parameters are numbers
    if (message >= kFirstRegistered)
        return Crossing::Never; // a registered number without its name means nothing here
    if (message >= WM_USER)
        return Crossing::Number; // private to the program, as on Windows
    switch (message) {
    case WM_SETTEXT:
    case kSettingChange:
        return Crossing::TextIn;
    case WM_GETTEXT:
        return Crossing::TextOut;
    case WM_NULL:
    case WM_DESTROY:
    case WM_MOVE:
    case WM_SIZE:
    case WM_ACTIVATE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_GETTEXTLENGTH:
    case WM_PAINT:
    case WM_CLOSE:
    case WM_QUIT:
    case WM_SHOWWINDOW:
    case WM_ACTIVATEAPP:
    case WM_SETCURSOR:
    case WM_DISPLAYCHANGE:
    case WM_NCDESTROY:
    case WM_NCHITTEST:
    case WM_NCACTIVATE:
    case kCommand:
    case WM_SYSCOMMAND:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
        return Crossing::Number; // numbers, or window handles that are looked up
    default:
        break;
    }
    if ((message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
        (message >= kMouseFirst && message <= kMouseLast))
        return Crossing::Number;
    return Crossing::Never; // WM_CREATE, WM_WINDOWPOSCHANGED, WM_ERASEBKGND, ... and unknown
}

} // namespace bus
