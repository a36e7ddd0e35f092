#include "render_state.h"

namespace board {

bool color_combine_preset(GrColorCombineFnc_t function, CombineUnit& out) {
    constexpr int32_t it = GR_COMBINE_LOCAL_ITERATED, cc = GR_COMBINE_LOCAL_CONSTANT;
    constexpr int32_t tex = GR_COMBINE_OTHER_TEXTURE, none = GR_COMBINE_OTHER_NONE;
    switch (function) {
    case GR_COLORCOMBINE_ZERO:
        out = {GR_COMBINE_FUNCTION_ZERO, GR_COMBINE_FACTOR_NONE, cc, none, 0};
        return true;
    case GR_COLORCOMBINE_CCRGB:
        out = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, cc, none, 0};
        return true;
    case GR_COLORCOMBINE_ITRGB:
    case GR_COLORCOMBINE_ITRGB_DELTA0:
        out = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, it, none, 0};
        return true;
    case GR_COLORCOMBINE_DECAL_TEXTURE:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, cc, tex, 0};
        return true;
    case GR_COLORCOMBINE_TEXTURE_TIMES_CCRGB:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL, cc, tex, 0};
        return true;
    case GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB:
    case GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB_DELTA0:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL, it, tex, 0};
        return true;
    case GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB_ADD_ALPHA:
    case GR_COLORCOMBINE_DIFF_SPEC_B:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA, GR_COMBINE_FACTOR_LOCAL, it, tex,
               0};
        return true;
    case GR_COLORCOMBINE_TEXTURE_TIMES_ALPHA:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL_ALPHA, it, tex, 0};
        return true;
    case GR_COLORCOMBINE_TEXTURE_TIMES_ALPHA_ADD_ITRGB:
    case GR_COLORCOMBINE_DIFF_SPEC_A:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL, GR_COMBINE_FACTOR_LOCAL_ALPHA, it, tex,
               0};
        return true;
    case GR_COLORCOMBINE_TEXTURE_ADD_ITRGB:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL, GR_COMBINE_FACTOR_ONE, it, tex, 0};
        return true;
    case GR_COLORCOMBINE_TEXTURE_SUB_ITRGB:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL, GR_COMBINE_FACTOR_ONE, it, tex, 0};
        return true;
    case GR_COLORCOMBINE_CCRGB_BLEND_ITRGB_ON_TEXALPHA:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL,
               GR_COMBINE_FACTOR_TEXTURE_ALPHA, it, GR_COMBINE_OTHER_CONSTANT, 0};
        return true;
    case GR_COLORCOMBINE_ONE:
        out = {GR_COMBINE_FUNCTION_ZERO, GR_COMBINE_FACTOR_NONE, cc, none, 1};
        return true;
    default:
        return false;
    }
}

bool alpha_source_preset(GrAlphaSource_t source, CombineUnit& out) {
    switch (source) {
    case GR_ALPHASOURCE_CC_ALPHA:
        out = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_CONSTANT,
               GR_COMBINE_OTHER_NONE, 0};
        return true;
    case GR_ALPHASOURCE_ITERATED_ALPHA:
        out = {GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_NONE, GR_COMBINE_LOCAL_ITERATED,
               GR_COMBINE_OTHER_NONE, 0};
        return true;
    case GR_ALPHASOURCE_TEXTURE_ALPHA:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_NONE,
               GR_COMBINE_OTHER_TEXTURE, 0};
        return true;
    case GR_ALPHASOURCE_TEXTURE_ALPHA_TIMES_ITERATED_ALPHA:
        out = {GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_LOCAL, GR_COMBINE_LOCAL_ITERATED,
               GR_COMBINE_OTHER_TEXTURE, 0};
        return true;
    default:
        return false;
    }
}

} // namespace board
