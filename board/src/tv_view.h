// What a TV set on the board's TV output would show, made from the screen picture and the
// record of the TV extension. See docs/board.md for the model.
#pragma once

#include "platform/image.h"

#include <array>
#include <cstdint>

namespace board {

// The ten fields of the TV record, in the order the extension receives them.
enum TvField {
    k_tv_enable,
    k_tv_output,
    k_tv_scan,
    k_tv_format,
    k_tv_xshift,
    k_tv_yshift,
    k_tv_brightness,
    k_tv_tuning,
    k_tv_sharpness,
    k_tv_flicker,
    k_tv_field_count,
};

using TvRecord = std::array<int32_t, k_tv_field_count>;

// The record the board starts with: output on, underscan, centred, neutral picture.
inline constexpr TvRecord k_tv_defaults{1, 0, 0, 0, 0, 0, 65, 8, 3, 0};

// The TV picture for a screen picture (0x00RRGGBB) and a TV record; same size as the screen.
[[nodiscard]] platform::Image render_tv(const platform::Image& screen, const TvRecord& tv);

} // namespace board
