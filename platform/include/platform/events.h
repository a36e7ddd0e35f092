// Events that the platform reports about a process: what an observer (a test, the desktop bus,
// the property sheet stand-in) needs to see of a run without looking inside the program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

enum class EventKind {
    Broadcast,     // SendMessageA to HWND_BROADCAST: name, wparam, lparam
    MessageBox,    // caption, text
    Beep,          // code (the MessageBeep type)
    DebugString,   // text
    WindowCreated, // name = class, text = title
    BoardGamma,    // gamma[0..2]: the three values given to the gamma extension
    BoardTv,       // tv[0..9]: the record given to the TV extension
    Exit,          // code: the process ends with this exit code
    Registry,      // the process changed the settings store: name = key path, text = value
};

struct Event {
    EventKind kind{};
    std::string name;    // registered message name, window class
    std::string text;    // message box text, debug string, window title
    std::string caption; // message box caption
    uint64_t wparam{0};
    int64_t lparam{0};
    int code{0};
    float gamma[3]{};
    int32_t tv[10]{};
};

[[nodiscard]] const char* event_kind_name(EventKind kind);

using EventSink = std::function<void(const Event&)>;

// Registers a sink that sees every later event of this process; returns its id.
int add_event_sink(EventSink sink);
void remove_event_sink(int id);

// Delivers the event to every sink, in the order they were added.
void emit(const Event& event);

} // namespace platform
