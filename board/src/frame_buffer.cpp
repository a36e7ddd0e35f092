#include "frame_buffer.h"

#include <algorithm>
#include <cstring>

namespace board {

void FrameBuffer::fill(uint32_t* buffer, uint32_t argb) {
    fill_pixels(buffer, k_pixels, argb);
}

void FrameBuffer::fill_aux(uint16_t depth) {
    m_aux_depth = depth;
    m_aux_stale = true;
}

void FrameBuffer::reset() {
    m_front = 0;
    fill(m_color[0].data(), 0xFF000000u);
    fill(m_color[1].data(), 0xFF000000u);
    fill_aux(0);
}

namespace {

uint32_t expand5(uint32_t v) {
    return (v << 3) | (v >> 2);
}
uint32_t expand6(uint32_t v) {
    return (v << 2) | (v >> 4);
}

// One source pixel as 0xAARRGGBB; formats without alpha are opaque.
uint32_t lfb_pixel(GrLfbSrcFmt_t format, const uint8_t* p) {
    uint16_t h;
    uint32_t w;
    switch (format) {
    case GR_LFB_SRC_FMT_565:
        std::memcpy(&h, p, 2);
        return 0xFF000000u | expand5(h >> 11) << 16 | expand6((h >> 5) & 63) << 8 | expand5(h & 31);
    case GR_LFB_SRC_FMT_555:
    case GR_LFB_SRC_FMT_1555:
        std::memcpy(&h, p, 2);
        return (format == GR_LFB_SRC_FMT_555 || (h & 0x8000) ? 0xFF000000u : 0u) |
               expand5((h >> 10) & 31) << 16 | expand5((h >> 5) & 31) << 8 | expand5(h & 31);
    case GR_LFB_SRC_FMT_888:
        std::memcpy(&w, p, 4);
        return 0xFF000000u | (w & 0x00FFFFFFu);
    default: // GR_LFB_SRC_FMT_8888
        std::memcpy(&w, p, 4);
        return w;
    }
}

int lfb_bytes(GrLfbSrcFmt_t format) {
    switch (format) {
    case GR_LFB_SRC_FMT_565:
    case GR_LFB_SRC_FMT_555:
    case GR_LFB_SRC_FMT_1555:
        return 2;
    case GR_LFB_SRC_FMT_888:
    case GR_LFB_SRC_FMT_8888:
        return 4;
    default:
        return 0;
    }
}

} // namespace

bool lfb_write(uint32_t* buffer, bool lower_left, FxU32 x, FxU32 y, GrLfbSrcFmt_t format,
               FxU32 width, FxU32 height, FxI32 stride, const void* data) {
    int bytes = lfb_bytes(format);
    if (!buffer || !data || bytes == 0)
        return false;
    const auto* src = static_cast<const uint8_t*>(data);
    const FxU32 w = FrameBuffer::k_width, h = FrameBuffer::k_height;
    FxU32 columns = x < w ? std::min(width, w - x) : 0;
    FxU32 rows = y < h ? std::min(height, h - y) : 0;
    for (FxU32 j = 0; j < rows; ++j) {
        FxU32 row = lower_left ? h - 1 - (y + j) : y + j;
        uint32_t* dst = buffer + size_t(row) * w + x;
        const uint8_t* line = src + std::ptrdiff_t(j) * stride;
        if (format == GR_LFB_SRC_FMT_888) { // the common case: 0x00RRGGBB words
            for (FxU32 i = 0; i < columns; ++i) {
                uint32_t p;
                std::memcpy(&p, line + size_t(i) * 4, 4);
                dst[i] = p | 0xFF000000u;
            }
            continue;
        }
        for (FxU32 i = 0; i < columns; ++i)
            dst[i] = lfb_pixel(format, line + size_t(i) * size_t(bytes));
    }
    return true;
}

uint32_t to_argb(GrColor_t c, GrColorFormat_t format) {
    uint32_t b0 = c & 0xFF, b1 = (c >> 8) & 0xFF, b2 = (c >> 16) & 0xFF, b3 = c >> 24;
    switch (format) {
    case GR_COLORFORMAT_ABGR:
        return b3 << 24 | b0 << 16 | b1 << 8 | b2;
    case GR_COLORFORMAT_RGBA:
        return b0 << 24 | b3 << 16 | b2 << 8 | b1;
    case GR_COLORFORMAT_BGRA:
        return b0 << 24 | b1 << 16 | b2 << 8 | b3;
    default:
        return c; // GR_COLORFORMAT_ARGB
    }
}

} // namespace board
