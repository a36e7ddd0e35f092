// The board's memory for the screen: two 32-bit colour buffers (0xAARRGGBB, row 0 at the top)
// and a 16-bit auxiliary (depth) buffer, 640 x 480.
#pragma once

#include "glide.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace board {

// Sets `count` pixels from `pixels` on to `argb`. On x86 by the string store, which the CPU
// runs in whole cache lines without reading them first: a screen that is not in the cache
// (the two buffers take turns) clears about three times faster than by a vector loop.
inline void fill_pixels(uint32_t* pixels, size_t count, uint32_t argb) {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    asm volatile("rep stosl" : "+D"(pixels), "+c"(count) : "a"(argb) : "memory");
#else
    std::fill_n(pixels, count, argb);
#endif
}

class FrameBuffer {
public:
    static constexpr int k_width = 640;
    static constexpr int k_height = 480;
    static constexpr size_t k_pixels = size_t(k_width) * k_height;

    FrameBuffer()
        : m_color{std::vector<uint32_t>(k_pixels), std::vector<uint32_t>(k_pixels)},
          m_aux(k_pixels, 0) {}

    [[nodiscard]] uint32_t* front() { return m_color[m_front].data(); }
    [[nodiscard]] const uint32_t* front() const { return m_color[m_front].data(); }
    [[nodiscard]] uint32_t* back() { return m_color[1 - m_front].data(); }
    [[nodiscard]] uint16_t* aux() {
        if (m_aux_stale) { // the last clear's depth, written when the buffer is wanted
            std::fill(m_aux.begin(), m_aux.end(), m_aux_depth);
            m_aux_stale = false;
        }
        return m_aux.data();
    }
    // The colour buffer that GR_BUFFER_FRONTBUFFER or GR_BUFFER_BACKBUFFER names, else nullptr.
    [[nodiscard]] uint32_t* color(GrBuffer_t buffer) {
        return buffer == GR_BUFFER_FRONTBUFFER  ? front()
               : buffer == GR_BUFFER_BACKBUFFER ? back()
                                                : nullptr;
    }

    void swap() { m_front = 1 - m_front; }
    void fill(uint32_t* buffer, uint32_t argb);
    void fill_aux(uint16_t depth);
    // Both colour buffers black, depth cleared, the first buffer in front.
    void reset();

private:
    std::vector<uint32_t> m_color[2];
    std::vector<uint16_t> m_aux;
    uint16_t m_aux_depth{0};
    bool m_aux_stale{false};
    int m_front{0};
};

// Writes a block of pixels into a colour buffer (a linear frame buffer write). Rows go
// downward on the screen with the upper-left origin and upward with the lower-left origin
// (y counts from the bottom row then). The block is clipped to the screen. False for an
// unknown source format or a missing source.
bool lfb_write(uint32_t* buffer, bool lower_left, FxU32 x, FxU32 y, GrLfbSrcFmt_t format,
               FxU32 width, FxU32 height, FxI32 stride, const void* data);

// A constant colour (grBufferClear, constant colour) in the opened colour format, as
// 0xAARRGGBB.
[[nodiscard]] uint32_t to_argb(GrColor_t color, GrColorFormat_t format);

} // namespace board
