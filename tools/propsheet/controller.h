// What the property sheet stand-in needs beyond the Win32 API: starting the program, sending
// it input and window-manager actions, taking pictures, hearing its events, and the registry
// as REGEDIT4 text. Everything platform-specific of the tool sits behind this interface; the
// Linux build implements it over the desktop bus (controller_desktop.cpp).
#pragma once

#include "platform/events.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace propsheet {

// One event of a process on the desktop: the platform's event, pid and program filled in.
using SheetEvent = platform::Event;

enum class WindowAction { Close, Move, Resize, DisplayChange };
enum class Shot { Board, Tv, Window };

class Controller {
public:
    virtual ~Controller() = default;

    // Joins the desktop as an observer; null with a reason when that is not possible.
    static std::unique_ptr<Controller> create(std::string* error);

    // Starts the program with an exact command-line tail; returns its process id or 0.
    virtual int start(const std::string& program, const std::string& command_line,
                      std::string* error) = 0;
    // Ends the started program at once (used when a script fails or the tool is stopped).
    virtual void kill_program() = 0;
    [[nodiscard]] virtual int program_pid() const = 0;

    // Keyboard input into the program's test window as real input; waits up to `wait_ms`
    // for that window to appear.
    virtual bool key(unsigned vk, bool down, int wait_ms, std::string* error) = 0;
    virtual bool window(WindowAction action, int x, int y, int wait_ms, std::string* error) = 0;
    virtual bool screenshot(Shot shot, const std::string& png_path, int wait_ms,
                            std::string* error) = 0;
    virtual std::optional<uint64_t> frame_count(std::string* error) = 0;

    // The next event heard, if any; never blocks.
    virtual std::optional<SheetEvent> next_event() = 0;
    // Sleeps up to `ms`, waking early when anything arrives or wake() is called.
    virtual void wait(int ms) = 0;
    virtual void wake() = 0; // from any thread
};

// The settings store as REGEDIT4 text; "" for the whole of HKEY_LOCAL_MACHINE.
bool export_registry_text(const std::string& key_path, std::string& text, std::string* error);
bool import_registry_text(const std::string& text, std::string* error);

} // namespace propsheet
