/*
 * glide.h: the Glide 2.x entry points, records and constants that WinTest uses, and the two
 * extensions of the board's maker (gamma correction and TV output).
 *
 * Values that the program's documentation fixes are used as given (resolution 7, refresh 0,
 * colour formats 0 and 1, origins 0 and 1, GR_WDEPTHVALUE_FARTHEST, GR_NULL_MIPMAP_HANDLE);
 * every other value is this board's own choice. Binary compatibility with any other
 * library is not a goal.
 */
#ifndef WINTEST_GLIDE_H
#define WINTEST_GLIDE_H

#include <stdint.h>

#ifdef _WIN32
#ifdef WINTEST_BUILDING_BOARD
#define FX_ENTRY __declspec(dllexport)
#else
#define FX_ENTRY __declspec(dllimport)
#endif
#define FX_CALL __stdcall
#else
#define FX_ENTRY
#define FX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- base types -------------------------------------------------------------------------- */

typedef uint8_t FxU8;
typedef int8_t FxI8;
typedef uint16_t FxU16;
typedef int16_t FxI16;
typedef uint32_t FxU32;
typedef int32_t FxI32;
typedef int FxBool;
typedef float FxFloat;

#define FXFALSE 0
#define FXTRUE 1

typedef FxU32 GrColor_t;
typedef FxU8 GrAlpha_t;
typedef FxI32 GrChipID_t;
typedef FxI32 GrScreenResolution_t;
typedef FxI32 GrScreenRefresh_t;
typedef FxI32 GrColorFormat_t;
typedef FxI32 GrOriginLocation_t;
typedef FxI32 GrBuffer_t;
typedef FxI32 GrDitherMode_t;
typedef FxI32 GrCombineFunction_t;
typedef FxI32 GrCombineFactor_t;
typedef FxI32 GrCombineLocal_t;
typedef FxI32 GrCombineOther_t;
typedef FxI32 GrColorCombineFnc_t;
typedef FxI32 GrAlphaSource_t;
typedef FxI32 GrAlphaBlendFnc_t;
typedef FxI32 GrCmpFnc_t;
typedef FxI32 GrTextureCombineFnc_t;
typedef FxI32 GrTextureFormat_t;
typedef FxI32 GrMipMapMode_t;
typedef FxI32 GrLOD_t;
typedef FxI32 GrAspectRatio_t;
typedef FxI32 GrTextureClampMode_t;
typedef FxI32 GrTextureFilterMode_t;
typedef FxI32 GrLfbSrcFmt_t;
typedef FxU32 GrMipMapId_t;

/* ---- constants --------------------------------------------------------------------------- */

#define GR_TMU0 0
#define GR_TMU1 1
#define GR_TMU2 2
#define GLIDE_NUM_TMU 3

#define GR_RESOLUTION_640x480 7
#define GR_REFRESH_60Hz 0

#define GR_COLORFORMAT_ARGB 0
#define GR_COLORFORMAT_ABGR 1
#define GR_COLORFORMAT_RGBA 2
#define GR_COLORFORMAT_BGRA 3

#define GR_ORIGIN_UPPER_LEFT 0
#define GR_ORIGIN_LOWER_LEFT 1

#define GR_BUFFER_FRONTBUFFER 0
#define GR_BUFFER_BACKBUFFER 1
#define GR_BUFFER_AUXBUFFER 2

#define GR_DITHER_DISABLE 0
#define GR_DITHER_2x2 1
#define GR_DITHER_4x4 2

#define GR_WDEPTHVALUE_NEAREST 0x0000
#define GR_WDEPTHVALUE_FARTHEST 0xFFFF

/* grSstControl codes: the window of the program was activated, moved or resized. */
#define GR_CONTROL_ACTIVATE 1
#define GR_CONTROL_DEACTIVATE 2
#define GR_CONTROL_RESIZE 3
#define GR_CONTROL_MOVE 4

#define GR_COMBINE_FUNCTION_ZERO 0x0
#define GR_COMBINE_FUNCTION_NONE GR_COMBINE_FUNCTION_ZERO
#define GR_COMBINE_FUNCTION_LOCAL 0x1
#define GR_COMBINE_FUNCTION_LOCAL_ALPHA 0x2
#define GR_COMBINE_FUNCTION_SCALE_OTHER 0x3
#define GR_COMBINE_FUNCTION_BLEND_OTHER GR_COMBINE_FUNCTION_SCALE_OTHER
#define GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL 0x4
#define GR_COMBINE_FUNCTION_SCALE_OTHER_ADD_LOCAL_ALPHA 0x5
#define GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL 0x6
#define GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL 0x7
#define GR_COMBINE_FUNCTION_BLEND GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL
#define GR_COMBINE_FUNCTION_SCALE_OTHER_MINUS_LOCAL_ADD_LOCAL_ALPHA 0x8
#define GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL 0x9
#define GR_COMBINE_FUNCTION_BLEND_LOCAL GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL
#define GR_COMBINE_FUNCTION_SCALE_MINUS_LOCAL_ADD_LOCAL_ALPHA 0x10

#define GR_COMBINE_FACTOR_ZERO 0x0
#define GR_COMBINE_FACTOR_NONE GR_COMBINE_FACTOR_ZERO
#define GR_COMBINE_FACTOR_LOCAL 0x1
#define GR_COMBINE_FACTOR_OTHER_ALPHA 0x2
#define GR_COMBINE_FACTOR_LOCAL_ALPHA 0x3
#define GR_COMBINE_FACTOR_TEXTURE_ALPHA 0x4
#define GR_COMBINE_FACTOR_ONE 0x8
#define GR_COMBINE_FACTOR_ONE_MINUS_LOCAL 0x9
#define GR_COMBINE_FACTOR_ONE_MINUS_OTHER_ALPHA 0xa
#define GR_COMBINE_FACTOR_ONE_MINUS_LOCAL_ALPHA 0xb
#define GR_COMBINE_FACTOR_ONE_MINUS_TEXTURE_ALPHA 0xc

#define GR_COMBINE_LOCAL_ITERATED 0x0
#define GR_COMBINE_LOCAL_CONSTANT 0x1
#define GR_COMBINE_LOCAL_NONE GR_COMBINE_LOCAL_CONSTANT
#define GR_COMBINE_LOCAL_DEPTH 0x2

#define GR_COMBINE_OTHER_ITERATED 0x0
#define GR_COMBINE_OTHER_TEXTURE 0x1
#define GR_COMBINE_OTHER_CONSTANT 0x2
#define GR_COMBINE_OTHER_NONE GR_COMBINE_OTHER_CONSTANT

#define GR_COLORCOMBINE_ZERO 0x0
#define GR_COLORCOMBINE_CCRGB 0x1
#define GR_COLORCOMBINE_ITRGB 0x2
#define GR_COLORCOMBINE_ITRGB_DELTA0 0x3
#define GR_COLORCOMBINE_DECAL_TEXTURE 0x4
#define GR_COLORCOMBINE_TEXTURE_TIMES_CCRGB 0x5
#define GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB 0x6
#define GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB_DELTA0 0x7
#define GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB_ADD_ALPHA 0x8
#define GR_COLORCOMBINE_TEXTURE_TIMES_ALPHA 0x9
#define GR_COLORCOMBINE_TEXTURE_TIMES_ALPHA_ADD_ITRGB 0xa
#define GR_COLORCOMBINE_TEXTURE_ADD_ITRGB 0xb
#define GR_COLORCOMBINE_TEXTURE_SUB_ITRGB 0xc
#define GR_COLORCOMBINE_CCRGB_BLEND_ITRGB_ON_TEXALPHA 0xd
#define GR_COLORCOMBINE_DIFF_SPEC_A 0xe
#define GR_COLORCOMBINE_DIFF_SPEC_B 0xf
#define GR_COLORCOMBINE_ONE 0x10

#define GR_ALPHASOURCE_CC_ALPHA 0x0
#define GR_ALPHASOURCE_ITERATED_ALPHA 0x1
#define GR_ALPHASOURCE_TEXTURE_ALPHA 0x2
#define GR_ALPHASOURCE_TEXTURE_ALPHA_TIMES_ITERATED_ALPHA 0x3

#define GR_BLEND_ZERO 0x0
#define GR_BLEND_SRC_ALPHA 0x1
#define GR_BLEND_SRC_COLOR 0x2
#define GR_BLEND_DST_COLOR GR_BLEND_SRC_COLOR
#define GR_BLEND_DST_ALPHA 0x3
#define GR_BLEND_ONE 0x4
#define GR_BLEND_ONE_MINUS_SRC_ALPHA 0x5
#define GR_BLEND_ONE_MINUS_SRC_COLOR 0x6
#define GR_BLEND_ONE_MINUS_DST_COLOR GR_BLEND_ONE_MINUS_SRC_COLOR
#define GR_BLEND_ONE_MINUS_DST_ALPHA 0x7
#define GR_BLEND_ALPHA_SATURATE 0xf

#define GR_CMP_NEVER 0x0
#define GR_CMP_LESS 0x1
#define GR_CMP_EQUAL 0x2
#define GR_CMP_LEQUAL 0x3
#define GR_CMP_GREATER 0x4
#define GR_CMP_NOTEQUAL 0x5
#define GR_CMP_GEQUAL 0x6
#define GR_CMP_ALWAYS 0x7

#define GR_TEXTURECOMBINE_ZERO 0x0
#define GR_TEXTURECOMBINE_DECAL 0x1
#define GR_TEXTURECOMBINE_OTHER 0x2
#define GR_TEXTURECOMBINE_ADD 0x3
#define GR_TEXTURECOMBINE_MULTIPLY 0x4
#define GR_TEXTURECOMBINE_SUBTRACT 0x5
#define GR_TEXTURECOMBINE_ONE 0xa

#define GR_LOD_256 0x0
#define GR_LOD_128 0x1
#define GR_LOD_64 0x2
#define GR_LOD_32 0x3
#define GR_LOD_16 0x4
#define GR_LOD_8 0x5
#define GR_LOD_4 0x6
#define GR_LOD_2 0x7
#define GR_LOD_1 0x8

#define GR_ASPECT_8x1 0x0
#define GR_ASPECT_4x1 0x1
#define GR_ASPECT_2x1 0x2
#define GR_ASPECT_1x1 0x3
#define GR_ASPECT_1x2 0x4
#define GR_ASPECT_1x4 0x5
#define GR_ASPECT_1x8 0x6

#define GR_TEXFMT_8BIT 0x0
#define GR_TEXFMT_RGB_332 GR_TEXFMT_8BIT
#define GR_TEXFMT_YIQ_422 0x1
#define GR_TEXFMT_ALPHA_8 0x2
#define GR_TEXFMT_INTENSITY_8 0x3
#define GR_TEXFMT_ALPHA_INTENSITY_44 0x4
#define GR_TEXFMT_P_8 0x5
#define GR_TEXFMT_16BIT 0x8
#define GR_TEXFMT_ARGB_8332 GR_TEXFMT_16BIT
#define GR_TEXFMT_AYIQ_8422 0x9
#define GR_TEXFMT_RGB_565 0xa
#define GR_TEXFMT_ARGB_1555 0xb
#define GR_TEXFMT_ARGB_4444 0xc
#define GR_TEXFMT_ALPHA_INTENSITY_88 0xd
#define GR_TEXFMT_AP_88 0xe

#define GR_MIPMAP_DISABLE 0x0
#define GR_MIPMAP_NEAREST 0x1
#define GR_MIPMAP_NEAREST_DITHER 0x2

#define GR_MIPMAPLEVELMASK_EVEN 0x1
#define GR_MIPMAPLEVELMASK_ODD 0x2
#define GR_MIPMAPLEVELMASK_BOTH 0x3

#define GR_TEXTURECLAMP_WRAP 0x0
#define GR_TEXTURECLAMP_CLAMP 0x1

#define GR_TEXTUREFILTER_POINT_SAMPLED 0x0
#define GR_TEXTUREFILTER_BILINEAR 0x1

#define GR_LFB_SRC_FMT_565 0x00
#define GR_LFB_SRC_FMT_555 0x01
#define GR_LFB_SRC_FMT_1555 0x02
#define GR_LFB_SRC_FMT_888 0x04
#define GR_LFB_SRC_FMT_8888 0x05

#define GR_NULL_MIPMAP_HANDLE ((GrMipMapId_t)-1)

/* ---- records ----------------------------------------------------------------------------- */

typedef struct {
    float sow; /* s texture coordinate divided by w */
    float tow; /* t texture coordinate divided by w */
    float oow; /* 1/w, for this TMU */
} GrTmuVertex;

typedef struct {
    float x, y, z; /* screen position and z */
    float r, g, b; /* colour, 0 to 255 */
    float ooz;     /* 65535/z, for depth buffering */
    float a;       /* alpha, 0 to 255 */
    float oow;     /* 1/w, for perspective correction and w-buffering */
    GrTmuVertex tmuvtx[GLIDE_NUM_TMU];
} GrVertex;

/* The whole render state, saved and restored as one opaque block. */
typedef struct {
    FxU32 pad[64];
} GrState;

typedef struct {
    FxU32 yRGB[16];
    FxI16 iRGB[4][3];
    FxI16 qRGB[4][3];
    FxU32 packed_data[12];
} GuNccTable;

typedef struct {
    FxU32 data[256]; /* 0xAARRGGBB */
} GuTexPalette;

typedef union {
    GuNccTable nccTable;
    GuTexPalette palette;
} GuTexTable;

typedef struct {
    FxU32 width, height;
    GrLOD_t small_lod, large_lod;
    GrAspectRatio_t aspect_ratio;
    GrTextureFormat_t format;
} Gu3dfHeader;

typedef struct {
    Gu3dfHeader header;
    GuTexTable table;
    void* data;         /* filled by gu3dfLoad: every level, largest first */
    FxU32 mem_required; /* bytes of data that gu3dfLoad writes */
} Gu3dfInfo;

/* ---- entry points ------------------------------------------------------------------------ */

FX_ENTRY void FX_CALL grGlideInit(void);
FX_ENTRY void FX_CALL grSstSelect(int which_sst);
FX_ENTRY FxBool FX_CALL grSstWinOpen(FxU32 hWnd, GrScreenResolution_t resolution,
                                     GrScreenRefresh_t refresh, GrColorFormat_t format,
                                     GrOriginLocation_t origin, int num_buffers,
                                     int num_aux_buffers);
FX_ENTRY FxU32 FX_CALL grSstScreenWidth(void);
FX_ENTRY FxU32 FX_CALL grSstScreenHeight(void);
FX_ENTRY FxBool FX_CALL grSstControl(FxU32 code);
FX_ENTRY void FX_CALL grGlideShutdown(void);

FX_ENTRY void FX_CALL grBufferClear(GrColor_t color, GrAlpha_t alpha, FxU16 depth);
FX_ENTRY void FX_CALL grBufferSwap(int swap_interval);
FX_ENTRY void FX_CALL grRenderBuffer(GrBuffer_t buffer);
FX_ENTRY void FX_CALL grDitherMode(GrDitherMode_t mode);

FX_ENTRY void FX_CALL grColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor,
                                     GrCombineLocal_t local, GrCombineOther_t other, FxBool invert);
FX_ENTRY void FX_CALL guColorCombineFunction(GrColorCombineFnc_t function);
FX_ENTRY void FX_CALL guAlphaSource(GrAlphaSource_t mode);
FX_ENTRY void FX_CALL grAlphaBlendFunction(GrAlphaBlendFnc_t rgb_sf, GrAlphaBlendFnc_t rgb_df,
                                           GrAlphaBlendFnc_t alpha_sf, GrAlphaBlendFnc_t alpha_df);
FX_ENTRY void FX_CALL grAlphaTestFunction(GrCmpFnc_t function);
FX_ENTRY void FX_CALL grTexCombineFunction(GrChipID_t tmu, GrTextureCombineFnc_t function);
FX_ENTRY void FX_CALL guTexSource(GrMipMapId_t id);

FX_ENTRY void FX_CALL grGlideGetState(GrState* state);
FX_ENTRY void FX_CALL grGlideSetState(const GrState* state);

FX_ENTRY void FX_CALL grDrawPoint(const GrVertex* a);
FX_ENTRY void FX_CALL grDrawLine(const GrVertex* a, const GrVertex* b);
FX_ENTRY void FX_CALL grDrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c);
FX_ENTRY FxBool FX_CALL grLfbWriteRegion(GrBuffer_t dst_buffer, FxU32 dst_x, FxU32 dst_y,
                                         GrLfbSrcFmt_t src_format, FxU32 src_width,
                                         FxU32 src_height, FxI32 src_stride, const void* src_data);

FX_ENTRY FxBool FX_CALL gu3dfGetInfo(const char* filename, Gu3dfInfo* info);
FX_ENTRY FxBool FX_CALL gu3dfLoad(const char* filename, Gu3dfInfo* info);
FX_ENTRY GrMipMapId_t FX_CALL guTexAllocateMemory(
    GrChipID_t tmu, FxU8 odd_even_mask, int width, int height, GrTextureFormat_t format,
    GrMipMapMode_t mipmap_mode, GrLOD_t small_lod, GrLOD_t large_lod, GrAspectRatio_t aspect,
    GrTextureClampMode_t s_clamp, GrTextureClampMode_t t_clamp, GrTextureFilterMode_t minify,
    GrTextureFilterMode_t magnify, float lod_bias, FxBool trilinear);
FX_ENTRY FxBool FX_CALL guTexDownloadMipMap(GrMipMapId_t id, const void* src,
                                            const GuNccTable* table);

/* ---- extensions of the board's maker ----------------------------------------------------- */

/* Gamma of each channel, effective at once; 0.0 keeps that channel's present curve. */
FX_ENTRY FxBool FX_CALL grGammaCorrectionKVX(FxFloat red, FxFloat green, FxFloat blue);

/* The TV output record: ten 32-bit integers in this order: enable, output, scan, format,
 * x shift, y shift, brightness, tuning, sharpness, flicker filter. */
#define GR_TV_SETTING_COUNT 10
FX_ENTRY FxBool FX_CALL grSetTVOperationKVX(const FxI32* settings);

#ifdef __cplusplus
}
#endif

#endif /* WINTEST_GLIDE_H */
