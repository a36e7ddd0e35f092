#include "board_harness.h"

#include <cstdio>

#include "board.h"
#include "platform/prefix.h"
#ifndef _WIN32
#include "bus/seams.h"
#endif

namespace board {

platform::Image screen_image() {
    return Board::the().screen_image();
}
platform::Image tv_image(int64_t field) {
    return Board::the().tv_image(field);
}
bool is_open() {
    return Board::the().is_open();
}
uint64_t frame_count() {
    return Board::the().frame_count();
}
std::array<float, 3> gamma() {
    return Board::the().gamma();
}
TvRecord tv_record() {
    return Board::the().tv_record();
}

#ifndef _WIN32
namespace {

// What the desktop bus may ask of the board of this process (bus/seams.h).
class BoardForBus final : public bus::BoardSource {
public:
    platform::Image screen_picture() override { return screen_image(); }
    platform::Image tv_picture(int64_t field) override { return tv_image(field); }
    uint64_t frame_count() override { return board::frame_count(); }
};

BoardForBus g_board_for_bus;
[[maybe_unused]] const bool g_registered = (bus::register_board(&g_board_for_bus), true);

} // namespace
#endif

namespace {

// Writes one picture when a path is given; a failure is told on stderr, as the process's
// caller asked for the file through the environment and would look for it.
bool save_png(const std::string& path, const platform::Image& image) {
    if (path.empty())
        return true;
    auto written = platform::write_png(path, image);
    if (!written)
        std::fprintf(stderr, "board: %s\n", written.message().c_str());
    return written.ok();
}

} // namespace

bool save_pngs(const std::string& screen_path, const std::string& tv_path) {
    bool ok = save_png(screen_path, screen_image());
    return save_png(tv_path, tv_image()) && ok;
}

bool save_pngs_from_env() {
    return save_pngs(platform::env_string("WINTEST_BOARD_PNG"),
                     platform::env_string("WINTEST_TV_PNG"));
}

} // namespace board
