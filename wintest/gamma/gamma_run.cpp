/*
 * The gamma adjustment run (mode 1): the gamma test texture beside grey and checkerboard
 * bands, redrawn every frame, while the keys step the red, green and blue gamma of the board
 * and announce each change to the property sheet. Enter stores the values; every way out
 * ends the process.
 */
#include "gamma.h"

#include "glide.h"
#include "settings/board_settings.h"
#include "shell.h"
#include "glide/glide_test.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* What the keys last computed; changed only by the step, default and disable keys. */
GammaKeyRecord GammaKeyState;

/* Size of the board's screen; every coordinate of the picture derives from it. */
static const float GammaScreenWidth = 640.0f;
static const float GammaScreenHeight = 480.0f;

/* Path of the gamma test texture: the directory word, "\" and the file name. */
static char GammaTexturePath[260];
static const char GammaTextureName[] = "TESTGAMA.3DF";

/* The texture that fills the left half; loaded once at start, never released. */
static GrMipMapId_t GammaTexture;

/* Corners of the textured quad; a, oow and the texture coordinates are set once at start,
 * x and y every frame. */
static GrVertex GammaV1, GammaV2, GammaV3, GammaV4;

/* Channels of a step key, as selectedChannel counts them. */
#define GAMMA_RED 0
#define GAMMA_GREEN 1
#define GAMMA_BLUE 2
#define GAMMA_ALL 3

/* Key codes of the key table (virtual-key codes, as GetKey returns them). */
#define GAMMA_KEY_ENTER 13
#define GAMMA_KEY_ESCAPE 27
#define GAMMA_KEY_DEFAULT 0x31
#define GAMMA_KEY_ALL 0x41
#define GAMMA_KEY_BLUE 0x42
#define GAMMA_KEY_DISABLE 0x44
#define GAMMA_KEY_ENABLE 0x45
#define GAMMA_KEY_GREEN 0x47
#define GAMMA_KEY_RED 0x52

/***********************************************************************
 *           CopyGammaArguments
 *
 * Copies the settings key into CurrentKeyPath and builds the texture path. Returns 0, with
 * nothing copied, when either does not fit its 256- or 260-byte buffer: a cut path would
 * name another key or file, so the caller refuses it.
 */
static int CopyGammaArguments(const char* textureDir, const char* keyPath) {
    size_t keyLength = strlen(keyPath);
    size_t dirLength = strlen(textureDir);
    if (keyLength >= sizeof(CurrentKeyPath))
        return 0;
    if (dirLength + 1 + strlen(GammaTextureName) >= sizeof(GammaTexturePath))
        return 0;
    memcpy(CurrentKeyPath, keyPath, keyLength + 1);
    snprintf(GammaTexturePath, sizeof(GammaTexturePath), "%s\\%s", textureDir, GammaTextureName);
    return 1;
}

/***********************************************************************
 *           OpenGammaBoard
 *
 * Opens board 0 full screen at 640 x 480, 60 Hz, lower-left origin. When another program
 * holds the board, shows the board-busy box and ends the process with exit code 1.
 */
static void OpenGammaBoard(void) {
    grGlideInit();
    grSstSelect(0);
    if (grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR,
                     GR_ORIGIN_LOWER_LEFT, 2, 1))
        return;
    MessageBoxA(NULL, BoardBusyText, NULL, MB_OK);
    exit(1);
}

/***********************************************************************
 *           ReadGammaEnable
 *
 * Sets gammaEnabled from the stored "=CurrGammaEnable": 0 for the text "0" or when the value
 * cannot be read, 1 for any other text, the empty text included.
 */
static void ReadGammaEnable(void) {
    char text[BOARD_SETTING_AREA_SIZE];
    if (!ReadBoardSetting(HKEY_LOCAL_MACHINE, CurrentKeyPath, "=CurrGammaEnable", text))
        GammaState.gammaEnabled = 0;
    else
        GammaState.gammaEnabled = strcmp(text, "0") == 0 ? 0 : 1;
}

/* Sets the fields of a quad corner that stay the same in every frame. */
static void InitGammaVertex(GrVertex* v, float sow, float tow) {
    memset(v, 0, sizeof(*v));
    v->a = 255.0f;
    v->oow = 1.0f;
    v->tmuvtx[0].sow = sow;
    v->tmuvtx[0].tow = tow;
    v->tmuvtx[0].oow = 1.0f;
}

/***********************************************************************
 *           DrawGammaTexture
 *
 * Fills the left half of the screen with the test texture, unblended, between a save and a
 * restore of the render state. The texture's first row lies along the top edge.
 */
static void DrawGammaTexture(void) {
    GammaV1.x = 0.0f;
    GammaV1.y = 0.0f;
    GammaV2.x = GammaScreenWidth * 0.5f;
    GammaV2.y = 0.0f;
    GammaV3.x = GammaScreenWidth * 0.5f;
    GammaV3.y = GammaScreenHeight;
    GammaV4.x = 0.0f;
    GammaV4.y = GammaScreenHeight;

    DrawTextureQuad(GammaTexture, &GammaV1, &GammaV2, &GammaV3, &GammaV4);
}

/***********************************************************************
 *           DrawGammaBands
 *
 * Fills the right half with eight bands of height / 8 rows, counted from the bottom: even
 * bands flat grey 128, odd bands a one-pixel checkerboard (255 where row + column is odd,
 * 0 where it is even). One opaque point per pixel, row by row from row 0.
 */
void DrawGammaBands(void) {
    int width = (int)GammaScreenWidth;
    int height = (int)GammaScreenHeight;
    int bandHeight = height / 8;

    GrVertex point = {};
    point.a = 255.0f;
    point.oow = 1.0f;
    for (int row = 0; row < height; row++) {
        int checkerboard = (row / bandHeight) & 1;
        for (int column = width / 2; column < width; column++) {
            float level = 128.0f;
            if (checkerboard)
                level = ((row + column) & 1) ? 255.0f : 0.0f;
            point.x = (float)column;
            point.y = (float)row;
            point.r = point.g = point.b = level;
            grDrawPoint(&point);
        }
    }
}

/***********************************************************************
 *           DrawGammaFrame
 *
 * Draws the whole picture into the back buffer: white clear, texture, bands.
 */
static void DrawGammaFrame(void) {
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    grBufferClear(0xFFFFFFFF, 0, GR_WDEPTHVALUE_FARTHEST);
    DrawGammaTexture();
    DrawGammaBands();
}

/* Sends a gamma message to every top-level window; the result is not used. */
static void BroadcastGamma(UINT message, WPARAM wParam, LPARAM lParam) {
    SendMessageA(HWND_BROADCAST, message, wParam, lParam);
}

/* Gamma times ten, rounded to the nearest integer. */
static int TenthsOf(float gamma) {
    return (int)lroundf(gamma * 10.0f);
}

/* Packs the three tenths fields into the wParam of the changed message. */
static void PackTenths(void) {
    GammaKeyState.packedTenths = ((DWORD)GammaKeyState.redTenths & 0xFF) |
                                 (((DWORD)GammaKeyState.greenTenths & 0xFF) << 8) |
                                 (((DWORD)GammaKeyState.blueTenths & 0xFF) << 16);
}

/***********************************************************************
 *           StepGammaValue
 *
 * Moves one value by GammaStep, up while Shift is held, else down; the sum is kept in single
 * precision. Clamps to GammaMin .. GammaMax and beeps when the clamp changed it.
 */
static void StepGammaValue(float* gamma) {
    float value = ShiftDown == 1 ? *gamma + GammaStep : *gamma - GammaStep;
    if (value < GammaMin) {
        value = (float)GammaMin;
        MessageBeep(MB_OK);
    } else if (value > GammaMax) {
        value = (float)GammaMax;
        MessageBeep(MB_OK);
    }
    *gamma = value;
}

/***********************************************************************
 *           StepGammaChannel
 *
 * R, G and B: steps one channel (from DefaultGamma when it is not set), refreshes its
 * tenths, sends the new value to the board with 0.0 (keep) for the other two and broadcasts
 * the changed message with the packed tenths and the channel.
 */
static void StepGammaChannel(int channel) {
    float* gamma[3] = {&GammaState.redGamma, &GammaState.greenGamma, &GammaState.blueGamma};
    int* tenths[3] = {&GammaKeyState.redTenths, &GammaKeyState.greenTenths,
                      &GammaKeyState.blueTenths};
    float* value = gamma[channel];

    if (!(*value > 0.0f))
        *value = DefaultGamma;
    StepGammaValue(value);
    *tenths[channel] = TenthsOf(*value);
    PackTenths();

    float board[3] = {0.0f, 0.0f, 0.0f};
    board[channel] = *value;
    grGammaCorrectionKVX(board[0], board[1], board[2]);
    GammaKeyState.selectedChannel = channel;
    BroadcastGamma(GammaMsgChanged, GammaKeyState.packedTenths, channel);
}

/***********************************************************************
 *           StepGammaAll
 *
 * A: steps all three channels (all restart from DefaultGamma when any is not set); each
 * clamped channel beeps. Sends the three values to the board and broadcasts the changed
 * message with channel 3.
 */
static void StepGammaAll(void) {
    if (!(GammaState.redGamma > 0.0f) || !(GammaState.greenGamma > 0.0f) ||
        !(GammaState.blueGamma > 0.0f)) {
        GammaState.redGamma = DefaultGamma;
        GammaState.greenGamma = DefaultGamma;
        GammaState.blueGamma = DefaultGamma;
    }
    StepGammaValue(&GammaState.redGamma);
    StepGammaValue(&GammaState.greenGamma);
    StepGammaValue(&GammaState.blueGamma);
    GammaKeyState.redTenths = TenthsOf(GammaState.redGamma);
    GammaKeyState.greenTenths = TenthsOf(GammaState.greenGamma);
    GammaKeyState.blueTenths = TenthsOf(GammaState.blueGamma);
    GammaKeyState.selectedChannel = GAMMA_ALL;
    PackTenths();
    grGammaCorrectionKVX(GammaState.redGamma, GammaState.greenGamma, GammaState.blueGamma);
    BroadcastGamma(GammaMsgChanged, GammaKeyState.packedTenths, GAMMA_ALL);
}

/* Sets all three values to DefaultGamma. */
static void SetDefaultGammaValues(void) {
    GammaState.redGamma = DefaultGamma;
    GammaState.greenGamma = DefaultGamma;
    GammaState.blueGamma = DefaultGamma;
}

/***********************************************************************
 *           DefaultGammaKey
 *
 * 1: sets all three values to DefaultGamma, also while correction is off. Only while it is
 * on does the board get the default curve and the property sheet the default message.
 */
static void DefaultGammaKey(void) {
    SetDefaultGammaValues();
    if (!GammaState.gammaEnabled)
        return;
    grGammaCorrectionKVX(DefaultGamma, DefaultGamma, DefaultGamma);
    BroadcastGamma(GammaMsgDefault, 0, 0);
}

/***********************************************************************
 *           DisableGammaKey
 *
 * D: switches correction off, puts the values and the board back to DefaultGamma and tells
 * the property sheet (enable message, wParam 0).
 */
static void DisableGammaKey(void) {
    GammaState.gammaEnabled = 0;
    SetDefaultGammaValues();
    grGammaCorrectionKVX(DefaultGamma, DefaultGamma, DefaultGamma);
    GammaKeyState.selectedChannel = GAMMA_ALL;
    BroadcastGamma(GammaMsgEnable, 0, 0);
}

/***********************************************************************
 *           EnableGammaKey
 *
 * E: asks the property sheet to switch correction on (enable message, wParam 1). Nothing
 * changes here: the sheet's answer, which may arrive during this broadcast, does it.
 */
static void EnableGammaKey(void) {
    BroadcastGamma(GammaMsgEnable, 1, 0);
}

/* Writes one gamma value as text with one digit after the point. */
static void WriteGammaValue(const char* name, float gamma) {
    char text[32];
    snprintf(text, sizeof(text), "%1.1f", (double)gamma);
    WriteBoardSetting(HKEY_LOCAL_MACHINE, CurrentKeyPath, name, text);
}

/***********************************************************************
 *           SaveGammaSettings
 *
 * Enter: writes the three values, the channel last stepped and the enable flag under
 * CurrentKeyPath. Failed writes are ignored and the rest still happen; nothing is sent.
 */
static void SaveGammaSettings(void) {
    static const char* const ColorNames[3] = {"Red", "Green", "Blue"};
    int channel = GammaKeyState.selectedChannel;
    const char* color = channel >= GAMMA_RED && channel <= GAMMA_BLUE ? ColorNames[channel] : "RGB";

    WriteGammaValue("SST_RGAMMA", GammaState.redGamma);
    WriteGammaValue("SST_GGAMMA", GammaState.greenGamma);
    WriteGammaValue("SST_BGAMMA", GammaState.blueGamma);
    WriteBoardSetting(HKEY_LOCAL_MACHINE, CurrentKeyPath, "=CurrGammaColor", color);
    WriteBoardSetting(HKEY_LOCAL_MACHINE, CurrentKeyPath, "=CurrGammaEnable",
                      GammaState.gammaEnabled ? "1" : "0");
}

/***********************************************************************
 *           EndGammaTest
 *
 * Escape: tells the property sheet that the test ends, shuts the board down and ends the
 * process with exit code 0. Nothing is saved.
 */
static void EndGammaTest(void) {
    BroadcastGamma(GammaMsgAppClosed, 0, 0);
    grGlideShutdown();
    exit(0);
}

/***********************************************************************
 *           HandleGammaKey
 *
 * Acts on one key code from GetKey. The step keys are ignored while correction is off;
 * codes outside the key table (Shift's own 16 among them) do nothing. Escape does not
 * return.
 */
void HandleGammaKey(signed char key) {
    switch (key) {
    case GAMMA_KEY_ENTER:
        SaveGammaSettings();
        break;
    case GAMMA_KEY_ESCAPE:
        EndGammaTest();
        break;
    case GAMMA_KEY_DEFAULT:
        DefaultGammaKey();
        break;
    case GAMMA_KEY_DISABLE:
        DisableGammaKey();
        break;
    case GAMMA_KEY_ENABLE:
        EnableGammaKey();
        break;
    case GAMMA_KEY_ALL:
        if (GammaState.gammaEnabled)
            StepGammaAll();
        break;
    case GAMMA_KEY_RED:
        if (GammaState.gammaEnabled)
            StepGammaChannel(GAMMA_RED);
        break;
    case GAMMA_KEY_GREEN:
        if (GammaState.gammaEnabled)
            StepGammaChannel(GAMMA_GREEN);
        break;
    case GAMMA_KEY_BLUE:
        if (GammaState.gammaEnabled)
            StepGammaChannel(GAMMA_BLUE);
        break;
    default:
        break;
    }
}

/***********************************************************************
 *           RunGammaTest
 *
 * The gamma correction adjustment. Needs four words: mode, bitmap, texture directory and
 * settings key. Never returns: exit code 1 for a wrong count, a directory or key that does
 * not fit its buffer, or a busy board; -1 when the texture cannot be loaded; 0 on Escape or
 * when the property sheet or the test window ends the test.
 */
void RunGammaTest(int count, char** words) {
    memset(CurrentKeyPath, 0, sizeof(CurrentKeyPath));
    if (count != 4)
        exit(1);
    if (!CopyGammaArguments(words[2], words[3]))
        exit(1);

    OpenGammaBoard();
    CreateGammaMessageWindow();
    ReadGammaEnable();
    GammaTexture = LoadTestTexture(GammaTexturePath);
    SetTextureTestState();

    InitGammaVertex(&GammaV1, 0.0f, 255.0f);
    InitGammaVertex(&GammaV2, 255.0f, 255.0f);
    InitGammaVertex(&GammaV3, 255.0f, 0.0f);
    InitGammaVertex(&GammaV4, 0.0f, 0.0f);
    for (;;) {
        DrawGammaFrame();
        grBufferSwap(1);
        if (KeyAvailable())
            HandleGammaKey(GetKey());
    }
}
