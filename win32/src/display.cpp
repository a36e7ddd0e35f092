#include "display.h"

#include "bus/seams.h"
#include "platform/prefix.h"
#include "platform/result.h"

#include <cstdio>
#include <memory>

namespace win32 {

namespace {

// Everything in memory: message boxes are reported on stderr and answered with their
// default button at once.
class HeadlessDisplay final : public DisplayBackend {
public:
    // `explain`: what to say on stderr once the program first waits for input.
    explicit HeadlessDisplay(std::string explain = {}) : m_explain(std::move(explain)) {}
    const char* name() const override { return "headless"; }
    void poll() override {
        if (!m_explain.empty())
            fputs(m_explain.c_str(), stderr);
        m_explain.clear();
    }
    int message_box(HWND, const std::string& text, const std::string& caption, UINT type) override {
        fprintf(stderr, "wintest: message box \"%s\": %s\n", caption.c_str(), text.c_str());
        return default_button(type);
    }

private:
    std::string m_explain;
};

// A desktop to show windows on: an X server or a Wayland compositor named in the environment.
bool have_desktop() {
    return !platform::env_string("DISPLAY").empty() ||
           !platform::env_string("WAYLAND_DISPLAY").empty();
}

// Real windows, or why there are none.
platform::Result<std::unique_ptr<DisplayBackend>> open_windows() {
#ifdef WINTEST_HAVE_SDL2
    if (!have_desktop() && platform::env_string("SDL_VIDEODRIVER").empty())
        return platform::fail("no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
    return make_sdl_display();
#else
    return platform::fail("this build has no SDL2 (install libsdl2-dev and build again)");
#endif
}

bool s_started_by_hand = false;

// Said once, when a run that a person started first waits for input and nobody can see it:
// how to see and drive the run. Not when the run asked to be headless, nor when a controller
// started it (it drives the run), nor for a run that ends before it waits.
std::string headless_explanation(const std::string& why) {
    if (!s_started_by_hand)
        return "";
    return "wintest: running headless (" + why +
           "): no window is shown and no key reaches the test.\n"
           "wintest: to see its windows, run it on a desktop or under xvfb-run "
           "(WINTEST_DISPLAY=sdl); to drive it, let propsheet start it (propsheet tv, gamma or "
           "glide, then type keys); Ctrl+C ends it.\n";
}

std::unique_ptr<DisplayBackend> make_display() {
    std::string wanted = platform::env_string("WINTEST_DISPLAY", "auto");
    std::string explain;
    if (wanted == "sdl" || wanted == "auto") {
        auto windows = open_windows();
        if (windows)
            return std::move(*windows);
        if (wanted == "sdl")
            fprintf(stderr, "wintest: display \"sdl\" is not available (%s); running headless\n",
                    windows.message().c_str());
        else
            explain = headless_explanation(windows.message());
    } else if (wanted != "headless") {
        fprintf(stderr, "wintest: display \"%s\" is not available; running headless\n",
                wanted.c_str());
    }
    return std::make_unique<HeadlessDisplay>(std::move(explain));
}

} // namespace

void started_by_hand() {
    s_started_by_hand = true;
}

DisplayBackend& display() {
    static std::unique_ptr<DisplayBackend> s_display = make_display();
    return *s_display;
}

int default_button(UINT type) {
    bool second = (type & MB_DEFBUTTON2) != 0;
    switch (type & 0xF) {
    case MB_OKCANCEL:
        return second ? IDCANCEL : IDOK;
    case MB_YESNO:
        return second ? IDNO : IDYES;
    default:
        return IDOK;
    }
}

} // namespace win32

namespace win32 {

namespace {

// The board's pictures, handed to the display in use (bus/seams.h).
class DisplayForBoard final : public bus::BoardDisplay {
public:
    bool wants_screen() override { return display().wants_board_frames(); }
    bool wants_tv() override { return display().wants_tv_frames(); }
    void show_screen(const platform::Image& screen) override { display().board_frame(screen); }
    void show_tv(TvFields fields, double field_rate) override {
        display().tv_frame(std::move(fields), field_rate);
    }
    void closed() override { display().board_closed(); }
};

DisplayForBoard g_display_for_board;
[[maybe_unused]] const bool g_registered =
    (bus::register_board_display(&g_display_for_board), true);

} // namespace

} // namespace win32
