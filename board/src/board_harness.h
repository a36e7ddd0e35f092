// What tests, the desktop bus and other observers can ask of the board of this process.
#pragma once

#include "platform/image.h"
#include "tv_view.h"

#include <array>
#include <cstdint>
#include <string>

namespace board {

// The last shown frame (the front buffer through the gamma tables), 640 x 480, 0x00RRGGBB.
[[nodiscard]] platform::Image screen_image();
// What a TV set on the TV output shows now (see docs/tv.md): both fields of a frame woven
// together, or field n alone (its lines; the others black).
[[nodiscard]] platform::Image tv_image(int64_t field = k_tv_both_fields);
// True while a program has the board open in this process.
[[nodiscard]] bool is_open();
// Buffer swaps since the board was last opened.
[[nodiscard]] uint64_t frame_count();
// The gamma of red, green and blue in force.
[[nodiscard]] std::array<float, 3> gamma();
// The last record given to the TV extension (or the board's defaults).
[[nodiscard]] TvRecord tv_record();

// Writes the screen and the TV view as PNG files; an empty path skips that picture. True
// when every picture asked for was written.
bool save_pngs(const std::string& screen_path, const std::string& tv_path);

// save_pngs with the paths of WINTEST_BOARD_PNG and WINTEST_TV_PNG. The board calls it at
// each grGlideShutdown of an open board and at the exit of a process that opened the board.
bool save_pngs_from_env();

} // namespace board
