// The TV view from any TV record and field number (what a program hands the board) over a
// small screen made of the remaining bytes: the picture has the size of the record's face,
// and equal inputs give identical pictures. A face is a few hundred thousand pixels of signal
// simulation, so the second render and the window's are made for one input in eight (chosen
// by the field number): the rest of the inputs explore the decoder at three times the pace.
#include "tv_view.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    board::TvRecord tv{};
    int64_t field = 0;
    if (size < sizeof tv + sizeof field)
        return 0;
    std::memcpy(tv.data(), data, sizeof tv);
    std::memcpy(&field, data + sizeof tv, sizeof field);
    data += sizeof tv + sizeof field;
    size -= sizeof tv + sizeof field;
    platform::Image screen(64, 48);
    for (size_t i = 0; i < screen.pixels.size() && size >= 3; ++i) {
        size_t at = (i * 3) % (size - size % 3);
        screen.pixels[i] = uint32_t(data[at]) << 16 | uint32_t(data[at + 1]) << 8 | data[at + 2];
    }
    const board::tv::Standard& standard = board::tv_standard(tv);
    platform::Image picture = board::render_tv(screen, tv, field);
    if (picture.width != standard.width || picture.height != standard.height)
        std::abort();
    if ((field & 7) != 0)
        return 0;
    if (picture.pixels != board::render_tv(screen, tv, field).pixels ||
        board::render_tv_window(screen, tv, field).pixels.size() != picture.pixels.size())
        std::abort();
    return 0;
}
