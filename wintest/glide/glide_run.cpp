/*
 * The Glide test (mode 2): a 3DF texture named on the command line drawn over the whole
 * screen, frame after frame, until Escape. Also the texture loading that the gamma test
 * shares (LoadTestTexture).
 */
#include "glide_test.h"
#include "sheet_messages.h"
#include "shell.h"

#include <stdlib.h>
#include <string.h>

/* Path of the texture file, entry 2 of the word list. Empty when the word does not fit
 * (259 characters at most), which LoadTestTexture treats as a texture that cannot be read. */
static char GlideTexturePath[260];

/* KVXPS_GAMMA_APPLICATION_CLOSED: sent on Escape. This mode has no closing message of
 * its own. */
static UINT GlideApplicationClosedMessage;

/* The screen size that the quad covers. */
static float GlideScreenWidth = 640.0f;
static float GlideScreenHeight = 480.0f;

/* The quad over the whole screen. The origin is the lower left corner, so V1 and V2 lie on
 * the bottom line, and t = 0 (the texture's first row) lies along the top edge. */
static GrVertex V1, V2, V3, V4;

/***********************************************************************
 *           TextureLoadFailed
 *
 * Shuts Glide down and ends the process with exit code -1. Silent on purpose: no message.
 */
static void TextureLoadFailed(void) {
    grGlideShutdown();
    exit(-1);
}

/***********************************************************************
 *           LoadTestTexture
 *
 * Reads the 3DF file at path into texture memory of TMU 0 (bilinear, wrapping, nearest
 * mipmap) and returns its handle. On any failure (an empty path, a file that is missing,
 * damaged or not a 3DF texture, no memory for its texels, no texture memory) shuts Glide down
 * and ends the process with exit code -1, without a message.
 */
GrMipMapId_t LoadTestTexture(const char* path) {
    Gu3dfInfo info;
    GrMipMapId_t handle;

    memset(&info, 0, sizeof(info));
    if (path == NULL || path[0] == '\0')
        TextureLoadFailed();
    if (!gu3dfGetInfo(path, &info))
        TextureLoadFailed();
    info.data = malloc(info.mem_required);
    if (info.data == NULL)
        TextureLoadFailed();
    if (!gu3dfLoad(path, &info))
        TextureLoadFailed();
    handle = guTexAllocateMemory(
        GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, (int)info.header.width, (int)info.header.height,
        info.header.format, GR_MIPMAP_NEAREST, info.header.small_lod, info.header.large_lod,
        info.header.aspect_ratio, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP,
        GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
    if (handle == GR_NULL_MIPMAP_HANDLE)
        TextureLoadFailed();
    guTexDownloadMipMap(handle, info.data, &info.table.nccTable);
    free(info.data);
    return handle;
}

/***********************************************************************
 *           SetGlideQuad
 *
 * Places the four corners of the full-screen quad and their texture coordinates.
 */
static void SetGlideQuad(void) {
    V1.x = 0.0f;
    V1.y = 0.0f;
    V2.x = GlideScreenWidth;
    V2.y = 0.0f;
    V3.x = GlideScreenWidth;
    V3.y = GlideScreenHeight;
    V4.x = 0.0f;
    V4.y = GlideScreenHeight;
}

/***********************************************************************
 *           InitGlideQuad
 *
 * Sets the fields of the quad that stay the same in every frame: alpha, 1/w and the s and t
 * of TMU 0 (0 to 255 across the texture).
 */
static void InitGlideQuad(void) {
    GrVertex* corners[4] = {&V1, &V2, &V3, &V4};
    static const float s[4] = {0.0f, 255.0f, 255.0f, 0.0f};
    static const float t[4] = {255.0f, 255.0f, 0.0f, 0.0f};
    int i;

    for (i = 0; i < 4; i++) {
        memset(corners[i], 0, sizeof(GrVertex));
        corners[i]->a = 255.0f;
        corners[i]->oow = 1.0f;
        corners[i]->tmuvtx[0].sow = s[i];
        corners[i]->tmuvtx[0].tow = t[i];
    }
}

/***********************************************************************
 *           OpenGlideBoard
 *
 * Opens board 0 full screen (640 x 480, 60 Hz, ABGR, lower-left origin, two colour buffers
 * and one auxiliary buffer). When another program has the board, shows the board-busy
 * message and ends the process with exit code 1.
 */
static void OpenGlideBoard(void) {
    grGlideInit();
    grSstSelect(0);
    if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR,
                      GR_ORIGIN_LOWER_LEFT, 2, 1)) {
        MessageBoxA(NULL, BoardBusyText, NULL, MB_OK);
        exit(1);
    }
}

/***********************************************************************
 *           SetTextureTestState
 *
 * The render state of the whole run, in this test and the gamma test: the texel as it is,
 * drawn into the back buffer with iterated alpha, source-alpha blending and no alpha test.
 */
void SetTextureTestState(void) {
    grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_DECAL);
    grRenderBuffer(GR_BUFFER_BACKBUFFER);
    guAlphaSource(GR_ALPHASOURCE_ITERATED_ALPHA);
    grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ONE,
                         GR_BLEND_ZERO);
    grAlphaTestFunction(GR_CMP_ALWAYS);
}

/***********************************************************************
 *           DrawGlideFrame
 *
 * Clears to white and draws the texture over the whole screen as two triangles, with the
 * render state saved around the drawing; then shows the frame at the next retrace.
 */
static void DrawGlideFrame(GrMipMapId_t texture) {
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    grBufferClear(0xFFFFFFFF, 0, GR_WDEPTHVALUE_FARTHEST);
    SetGlideQuad();
    DrawTextureQuad(texture, &V1, &V2, &V3, &V4);
    grBufferSwap(1);
}

/***********************************************************************
 *           DrawTextureQuad
 *
 * Draws the texture over a quad as two triangles, unblended (the texel colour as it is),
 * between a save and a restore of the render state.
 */
void DrawTextureQuad(GrMipMapId_t texture, GrVertex* v1, GrVertex* v2, GrVertex* v3, GrVertex* v4) {
    GrState saved;

    grGlideGetState(&saved);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
    grColorCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE,
                   GR_COMBINE_LOCAL_CONSTANT, GR_COMBINE_OTHER_TEXTURE, FXFALSE);
    guTexSource(texture);
    grDrawTriangle(v1, v2, v3);
    grDrawTriangle(v3, v4, v1);
    grGlideSetState(&saved);
}

/***********************************************************************
 *           EndGlideTest
 *
 * Broadcasts "KVXPS Test Gamma Application Closed" (wParam 0, lParam 0), shuts Glide down
 * and ends the process with exit code 0.
 */
static void EndGlideTest(void) {
    SendMessageA(HWND_BROADCAST, GlideApplicationClosedMessage, 0, 0);
    grGlideShutdown();
    exit(0);
}

/***********************************************************************
 *           RunGlideTest
 *
 * Mode 2. Needs exactly three words (mode, bitmap, texture path); any other count ends the
 * process with exit code 1 before the board is touched. Opens the board, loads the texture
 * and draws it over the whole screen until Escape. Never returns: Escape exits with 0, the
 * board being busy with 1, a texture that cannot be loaded with -1.
 */
void RunGlideTest(int count, char** words) {
    GrMipMapId_t texture;

    if (count != 3)
        exit(1);
    if (strlen(words[2]) < sizeof(GlideTexturePath))
        strcpy(GlideTexturePath, words[2]);
    else
        GlideTexturePath[0] = '\0';
    GlideApplicationClosedMessage = RegisterWindowMessageA(KVXPS_GAMMA_APPLICATION_CLOSED);

    OpenGlideBoard();
    texture = LoadTestTexture(GlideTexturePath);
    SetTextureTestState();
    InitGlideQuad();

    for (;;) {
        DrawGlideFrame(texture);
        if (KeyAvailable() && GetKey() == VK_ESCAPE)
            EndGlideTest();
    }
}
