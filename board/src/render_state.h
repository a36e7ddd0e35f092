// The render state of the board: everything that grGlideGetState saves and grGlideSetState
// restores. A plain block of 32-bit fields, so that it copies into GrState byte for byte.
#pragma once

#include "glide.h"

#include <cstdint>
#include <type_traits>

namespace board {

// One combine unit (colour or alpha): out = function(factor, local, other), then inverted.
struct CombineUnit {
    int32_t function{GR_COMBINE_FUNCTION_LOCAL};
    int32_t factor{GR_COMBINE_FACTOR_NONE};
    int32_t local{GR_COMBINE_LOCAL_ITERATED};
    int32_t other{GR_COMBINE_OTHER_NONE};
    int32_t invert{0};
};

struct RenderState {
    CombineUnit color;             // grColorCombine
    CombineUnit alpha;             // guAlphaSource
    int32_t rgb_src{GR_BLEND_ONE}; // grAlphaBlendFunction
    int32_t rgb_dst{GR_BLEND_ZERO};
    int32_t alpha_src{GR_BLEND_ONE};
    int32_t alpha_dst{GR_BLEND_ZERO};
    int32_t alpha_test{GR_CMP_ALWAYS}; // grAlphaTestFunction
    uint32_t alpha_ref{0};             // reference of the alpha test
    int32_t tex_combine[GLIDE_NUM_TMU]{GR_TEXTURECOMBINE_DECAL, GR_TEXTURECOMBINE_DECAL,
                                       GR_TEXTURECOMBINE_DECAL};
    uint32_t tex_source[GLIDE_NUM_TMU]{GR_NULL_MIPMAP_HANDLE, GR_NULL_MIPMAP_HANDLE,
                                       GR_NULL_MIPMAP_HANDLE}; // guTexSource
    int32_t render_buffer{GR_BUFFER_BACKBUFFER};               // grRenderBuffer
    int32_t dither{GR_DITHER_4x4};        // grDitherMode (no effect at 32 bits)
    uint32_t constant_color{0xFFFFFFFFu}; // 0xAARRGGBB, for the CONSTANT sources
};

static_assert(std::is_trivially_copyable_v<RenderState>);
static_assert(sizeof(RenderState) <= sizeof(GrState), "the render state must fit GrState");

// The combine settings that guColorCombineFunction stands for; false for an unknown function.
bool color_combine_preset(GrColorCombineFnc_t function, CombineUnit& out);

// The alpha combine settings that guAlphaSource stands for; false for an unknown source.
bool alpha_source_preset(GrAlphaSource_t source, CombineUnit& out);

} // namespace board
