// Placeholder board: every entry point accepts its call and draws nothing. The software
// board that renders replaces this file.
#include "glide.h"

extern "C" {
void grGlideInit(void) {}
void grSstSelect(int) {}
FxBool grSstWinOpen(FxU32, GrScreenResolution_t, GrScreenRefresh_t, GrColorFormat_t,
                    GrOriginLocation_t, int, int) {
    return FXTRUE;
}
FxU32 grSstScreenWidth(void) {
    return 640;
}
FxU32 grSstScreenHeight(void) {
    return 480;
}
FxBool grSstControl(FxU32) {
    return FXTRUE;
}
void grGlideShutdown(void) {}
void grBufferClear(GrColor_t, GrAlpha_t, FxU16) {}
void grBufferSwap(int) {}
void grRenderBuffer(GrBuffer_t) {}
void grDitherMode(GrDitherMode_t) {}
void grColorCombine(GrCombineFunction_t, GrCombineFactor_t, GrCombineLocal_t, GrCombineOther_t,
                    FxBool) {}
void guColorCombineFunction(GrColorCombineFnc_t) {}
void guAlphaSource(GrAlphaSource_t) {}
void grAlphaBlendFunction(GrAlphaBlendFnc_t, GrAlphaBlendFnc_t, GrAlphaBlendFnc_t,
                          GrAlphaBlendFnc_t) {}
void grAlphaTestFunction(GrCmpFnc_t) {}
void grTexCombineFunction(GrChipID_t, GrTextureCombineFnc_t) {}
void guTexSource(GrMipMapId_t) {}
void grGlideGetState(GrState*) {}
void grGlideSetState(const GrState*) {}
void grDrawPoint(const GrVertex*) {}
void grDrawLine(const GrVertex*, const GrVertex*) {}
void grDrawTriangle(const GrVertex*, const GrVertex*, const GrVertex*) {}
FxBool grLfbWriteRegion(GrBuffer_t, FxU32, FxU32, GrLfbSrcFmt_t, FxU32, FxU32, FxI32, const void*) {
    return FXTRUE;
}
FxBool gu3dfGetInfo(const char*, Gu3dfInfo*) {
    return FXFALSE;
}
FxBool gu3dfLoad(const char*, Gu3dfInfo*) {
    return FXFALSE;
}
GrMipMapId_t guTexAllocateMemory(GrChipID_t, FxU8, int, int, GrTextureFormat_t, GrMipMapMode_t,
                                 GrLOD_t, GrLOD_t, GrAspectRatio_t, GrTextureClampMode_t,
                                 GrTextureClampMode_t, GrTextureFilterMode_t, GrTextureFilterMode_t,
                                 float, FxBool) {
    return GR_NULL_MIPMAP_HANDLE;
}
FxBool guTexDownloadMipMap(GrMipMapId_t, const void*, const GuNccTable*) {
    return FXFALSE;
}
FxBool grGammaCorrectionKVX(FxFloat, FxFloat, FxFloat) {
    return FXTRUE;
}
FxBool grSetTVOperationKVX(const FxI32*) {
    return FXTRUE;
}
}
