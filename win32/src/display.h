// Display backends: where top-level windows and the board's screen are shown.
//
// headless keeps everything in memory (the default without a display, and in all tests);
// other backends (real windows) implement the same interface. The window manager calls the
// backend on the GUI thread only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/image.h"
#include "bus/seams.h"
#include "platform/result.h"

namespace win32 {

class DisplayBackend {
public:
    virtual ~DisplayBackend() = default;
    [[nodiscard]] virtual const char* name() const = 0;

    virtual void window_created(HWND) {}
    virtual void window_destroyed(HWND) {}
    // Title, geometry, style or visibility changed.
    virtual void window_changed(HWND) {}
    // The window's surface has new pixels.
    virtual void surface_changed(HWND) {}
    virtual void cursor_changed(HCURSOR) {}
    // Brings user input (keys, moves, resizes, close requests) into the message queue.
    virtual void poll() {}
    // Shows a modal message box and returns the button chosen.
    virtual int message_box(HWND owner, const std::string& text, const std::string& caption,
                            UINT type) = 0;
    virtual void beep(UINT) {}

    // The board's monitor and TV picture. The board asks before it builds a picture (the
    // gamma lookup costs time), then hands each picture over on the GUI thread at the retrace
    // that shows it (the TV set's as the pictures of its fields, at their rate);
    // board_closed() follows grGlideShutdown.
    [[nodiscard]] virtual bool wants_board_frames() const { return false; }
    [[nodiscard]] virtual bool wants_tv_frames() const { return false; }
    virtual void board_frame(const platform::Image&) {}
    virtual void tv_frame(bus::BoardDisplay::TvFields, double /*field_rate*/) {}
    virtual void board_closed() {}
};

// The backend in use, chosen on first use from WINTEST_DISPLAY (headless or sdl).
DisplayBackend& display();

// The program was started from a shell, not by a controller: when it gets no windows without
// having asked to be headless, the display says once on stderr how to see and drive the run.
void started_by_hand();

#ifdef WINTEST_HAVE_SDL2
// Real windows through SDL2, or why the display cannot be opened.
platform::Result<std::unique_ptr<DisplayBackend>> make_sdl_display();
#endif

// The button that a message box of this type answers with when nobody is there to click.
int default_button(UINT type);

} // namespace win32
