// Events that the platform reports about a process: what an observer (a test, the desktop bus,
// the property sheet stand-in) needs to see of a run without looking inside the program. One
// type for all of them: a process emits an event with pid 0 and no program name; the desktop
// bus (or, on Windows, the controller) fills both in for the processes it watches.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// (Box, not MessageBox: <windows.h> makes MessageBox a macro.)
enum class EventKind {
    Broadcast, // SendMessageA to HWND_BROADCAST: name, wparam, lparam
    Box,       // a message box: caption, text
    Beep,      // code (the MessageBeep type)
    Debug,     // a debug string: text
    Window,    // a top-level window created: name = class, text = title
    Gamma,     // gamma[0..2]: the three values given to the board's gamma extension
    Tv,        // tv[0..9]: the record given to the board's TV extension
    Exit,      // code: the process ended with this exit code (see below)
    Registry,  // the process changed the settings store: name = key path, text = value
};

struct Event {
    using Kind = EventKind;

    EventKind kind{EventKind::Broadcast};
    int pid{0};          // the process it happened in; 0 for this one
    std::string program; // that process's short name, e.g. "wintest"; "" for this one
    std::string name;    // registered message name, window class
    std::string text;    // message box text, debug string, window title
    std::string caption; // message box caption
    uint64_t wparam{0};
    int64_t lparam{0};
    // Beep: the type. Exit: the exit code as its low 8 bits give it (so -1 reads 255), or
    // 128 + signal with `signal` set when a signal killed the process.
    int code{0};
    int signal{0};
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
