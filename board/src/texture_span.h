// The fast spans of the rasteriser: rows of a triangle whose texel is the colour, with alpha
// from the vertices, written unblended. One function per filter and wrap combination, chosen
// once per triangle. Internal to the board.
#pragma once

#include "pixel_pipeline.h"

#include <cstdint>

namespace board::detail {

// Writes `count` pixels from dst on. s, t step by ds, dt per pixel (2^-32 units of the 256
// level, see rasterizer.h); a is the iterated alpha with 16 fraction bits.
using SpanFunction = void (*)(uint32_t* dst, int count, const Sampler& sampler, int64_t s,
                              int64_t ds, int64_t t, int64_t dt, int64_t a, int64_t da);

[[nodiscard]] SpanFunction pick_texture_span(const Sampler& sampler);

} // namespace board::detail
