// What the property sheet stand-in needs beyond the Win32 API: starting the program, sending
// it input and window-manager actions, taking pictures, hearing its events, and the registry
// as REGEDIT4 text. Everything platform-specific of the tool sits behind this interface; the
// Linux build implements it over the desktop bus (controller_desktop.cpp).
#pragma once

#include "platform/events.h"
#include "platform/result.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace propsheet {

// What a controller knows of a top-level window of the program.
struct WindowFacts {
    int pid{0};
    std::string class_name;
    std::string title;
    int left{0}, top{0}, right{0}, bottom{0}; // outer rectangle, screen coordinates
    int client_width{0}, client_height{0};    // 0 x 0 for a window without client area
    bool visible{false};
    uint32_t style{0}, ex_style{0};
    bool focus{false};    // the window or one of its children has the keyboard focus
    bool complete{false}; // rectangles, styles and focus are known (not only the names)
};

// The facts that both desktops' window records hold (pid, names, rectangles, visibility).
template <class Info> WindowFacts window_facts(const Info& w) {
    WindowFacts f;
    f.pid = int(w.pid);
    f.class_name = w.class_name;
    f.title = w.title;
    f.left = w.window.left;
    f.top = w.window.top;
    f.right = w.window.right;
    f.bottom = w.window.bottom;
    f.client_width = std::max(0, int(w.client.right - w.client.left));
    f.client_height = std::max(0, int(w.client.bottom - w.client.top));
    f.visible = w.visible;
    f.complete = true;
    return f;
}

// One event of a process on the desktop: the platform's event with its pid and program, and
// what the sheet adds when it hears it.
struct SheetEvent : platform::Event {
    SheetEvent() = default;
    explicit SheetEvent(platform::Event event) : platform::Event(std::move(event)) {}

    uint64_t time_us{0}; // when the sheet heard it, on the monotonic clock
    WindowFacts window;  // window: the new window's facts when the controller knows them
};

enum class WindowAction { Close, Move, Resize, DisplayChange };

struct KeyStroke {
    unsigned vk{0};
    bool down{true};
};
// Strokes as the desktops' key injection takes them: (virtual-key code, down) pairs.
inline std::vector<std::pair<unsigned, bool>> key_pairs(const std::vector<KeyStroke>& strokes) {
    std::vector<std::pair<unsigned, bool>> pairs;
    pairs.reserve(strokes.size());
    for (const KeyStroke& k : strokes)
        pairs.emplace_back(k.vk, k.down);
    return pairs;
}
// The board's screen, its TV view (both fields, or field 0 or 1 alone), or the test window.
enum class Shot { Board, Tv, Window, TvField0, TvField1 };

class Controller {
public:
    virtual ~Controller() = default;

    // Joins the desktop as an observer; an error with the reason when that is not possible.
    static platform::Result<std::unique_ptr<Controller>> create();

    // Starts a program with an exact command-line tail; returns its process id. The first
    // program started is the one the commands below act on.
    virtual platform::Result<int> start(const std::string& program,
                                        const std::string& command_line) = 0;
    // Ends every started program that still runs (when a script fails or the tool is stopped).
    virtual void kill_program() = 0;
    [[nodiscard]] virtual int program_pid() const = 0;

    // Keyboard input into the program's test window as real input; waits up to `wait_ms`
    // for that window to appear.
    virtual platform::Status key(unsigned vk, bool down, int wait_ms) = 0;
    // All the strokes into the program's queue in one step, so that all of them are waiting
    // before the program's next frame.
    virtual platform::Status keys(const std::vector<KeyStroke>& strokes, int wait_ms) = 0;
    virtual platform::Status window(WindowAction action, int x, int y, int wait_ms) = 0;
    virtual platform::Status screenshot(Shot shot, const std::string& png_path, int wait_ms) = 0;
    // The board's frame count; waits up to `wait_ms` for the program to answer (it may not
    // have joined the desktop or opened the board yet).
    virtual platform::Result<uint64_t> frame_count(int wait_ms) = 0;
    // The top-level windows of every started program; waits up to `wait_ms` for the first
    // program's first window. The real controllers report an empty desktop as an error.
    virtual platform::Result<std::vector<WindowFacts>> windows(int wait_ms) = 0;

    // The next event heard, if any; never blocks.
    virtual std::optional<SheetEvent> next_event() = 0;
    // Sleeps up to `ms`, waking early when anything arrives or wake() is called.
    virtual void wait(int ms) = 0;
    virtual void wake() = 0; // from any thread
};

// The settings store as REGEDIT4 text; "" for the whole of HKEY_LOCAL_MACHINE.
platform::Result<std::string> export_registry_text(const std::string& key_path);
platform::Status import_registry_text(const std::string& text);

} // namespace propsheet
