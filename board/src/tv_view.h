// What a TV set on the board's TV output would show, made from the screen picture and the
// record of the TV extension: the encoder scales the screen into the lines of NTSC or PAL,
// filters it and sends it as S-video or composite; the set decodes it and shows the two
// interlaced fields. See docs/tv.md for the model.
#pragma once

#include "platform/image.h"
#include "tv_signal.h"

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

// render_tv's field argument for the whole frame: field 0 (the face's even lines, counted
// from 0 at the top) and field 1 (the odd lines) woven together.
inline constexpr int64_t k_tv_both_fields = -1;

// The standard a record selects: format 0 NTSC, any other PAL.
[[nodiscard]] const tv::Standard& tv_standard(const TvRecord& tv);

// The TV picture for a screen picture (0x00RRGGBB) and a TV record, the size of the set's
// face (640 x 480 NTSC, 768 x 576 PAL). Field n (0, 1, 2, ...) shows that field's lines and
// leaves the others black; n counts fields from the start of the subcarrier's sequence, so
// the dots of composite colour move from one field to the next as on a set.
[[nodiscard]] platform::Image render_tv(const platform::Image& screen, const TvRecord& tv,
                                        int64_t field = k_tv_both_fields);

// What a window shows during field n: its lines as just scanned, the lines of field n - 1
// at half their light, as the eye still sees them. Shown one after the other at the field
// rate, one-line details flicker as on the tube.
[[nodiscard]] platform::Image render_tv_window(const platform::Image& screen, const TvRecord& tv,
                                               int64_t field);

} // namespace board
