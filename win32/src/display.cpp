#include "display.h"

#include "bus/seams.h"
#include "platform/prefix.h"

#include <cstdio>
#include <memory>

namespace win32 {

namespace {

// Everything in memory: message boxes are reported on stderr and answered with their
// default button at once.
class HeadlessDisplay final : public DisplayBackend {
public:
    const char* name() const override { return "headless"; }
    int message_box(HWND, const std::string& text, const std::string& caption, UINT type) override {
        fprintf(stderr, "wintest: message box \"%s\": %s\n", caption.c_str(), text.c_str());
        return default_button(type);
    }
};

std::unique_ptr<DisplayBackend> make_display() {
    std::string wanted = platform::env_string("WINTEST_DISPLAY", "auto");
#ifdef WINTEST_HAVE_SDL2
    if (wanted == "sdl" || (wanted == "auto" && !platform::env_string("DISPLAY").empty())) {
        if (auto sdl = make_sdl_display())
            return sdl;
    }
#endif
    if (wanted != "headless" && wanted != "auto")
        fprintf(stderr, "wintest: display \"%s\" is not available; running headless\n",
                wanted.c_str());
    return std::make_unique<HeadlessDisplay>();
}

} // namespace

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
