// The board's calls of its two extensions, told to a watching controller on Windows (see
// screen_protocol.h): the Windows counterpart of the events that the Linux platform hands to
// the desktop bus. Without a controller nothing is sent.
#include "observer_win32.h"

#include "platform/events.h"
#include "screen_protocol.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace board {

namespace {

// The text of a gamma or TV event; empty for the other events.
std::string event_text(const platform::Event& event) {
    char text[160];
    if (event.kind == platform::EventKind::Gamma) {
        std::snprintf(text, sizeof(text), "gamma %.4f %.4f %.4f", double(event.gamma[0]),
                      double(event.gamma[1]), double(event.gamma[2]));
        return text;
    }
    if (event.kind == platform::EventKind::Tv) {
        std::string out = "tv";
        for (int32_t field : event.tv)
            out += " " + std::to_string(field);
        return out;
    }
    return {};
}

void tell_observer(const platform::Event& event) {
    std::string text = event_text(event);
    if (text.empty())
        return;
    HWND observer = FindWindowA(k_observer_class, nullptr);
    if (!observer)
        return;
    COPYDATASTRUCT data{};
    data.dwData = k_board_event;
    data.cbData = DWORD(text.size());
    data.lpData = text.data();
    DWORD_PTR result = 0;
    SendMessageTimeoutA(observer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                        2000, &result);
}

} // namespace

void start_telling_observers() {
    platform::add_event_sink(tell_observer);
}

} // namespace board
