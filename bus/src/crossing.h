// How a message crosses to another process. An lParam that points into the sender's memory
// means nothing in the receiver and must never be used there: a registered message and a
// message that carries only numbers cross as they are, the text messages carry their text in
// the packet, and every other message is not delivered to other processes.
#pragma once

#include <windows.h>

namespace bus {

enum class Crossing {
    Number,  // wParam and lParam cross as numbers
    TextIn,  // lParam is a string or null (WM_SETTEXT, WM_SETTINGCHANGE): the text crosses
    TextOut, // WM_GETTEXT: wParam is the room, the window's text comes back in the answer
    Never,   // carries a pointer or a handle of the sender, or a number without its name
};

[[nodiscard]] Crossing crossing_of(UINT message, bool registered);

} // namespace bus
