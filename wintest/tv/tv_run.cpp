/*
 * The TV adjustment run (mode 0): shows the grey test image inside two red-and-green frames
 * at 640 x 480 and lets the user shift, tune and filter the TV picture from the keyboard.
 * Each accepted change goes to the board's TV extension at once; Enter stores the settings in
 * the current key, Esc ends the run and tells the property sheet.
 */
#include "shell.h"
#include "settings/board_settings.h"
#include "tv/tv.h"

#include "glide.h"

#include <stdlib.h>
#include <string.h>

/* The image directory word followed by "\testtv.3df"; filled once at the start. */
static char TvImagePath[260];
#define TV_IMAGE_FILE_NAME "\\testtv.3df"

/* The test image, held for the whole run; no pixels when it could not be read. */
static DWORD* TvImagePixels;
static int TvImageWidth;
static int TvImageHeight;

/* The two frames: four rectangles of four corners each, built once the screen is open. */
static GrVertex TvOutline[16];

/* Set by every key that changes or reloads settings, cleared by a beep; the record goes to
 * the board at the end of the key when it is still set. */
static int TvApply;

/* Set by Space: the next sending switches the TV output off and on again. */
static int TvRestart;

/* Frames left before the run ends by itself. */
static DWORD TvFrameCountdown;

/***********************************************************************
 *           CopyTvWord
 *
 * Copies a command-line word into an area of `size` bytes. Returns 0, copying nothing, when
 * the word does not fit with its terminating zero.
 */
static int CopyTvWord(char* area, size_t size, const char* word) {
    size_t length = strlen(word);
    if (length >= size)
        return 0;
    memcpy(area, word, length + 1);
    return 1;
}

/***********************************************************************
 *           TakeTvWords
 *
 * Fills CurrentKeyPath, DefaultKeyPath and TvImagePath from the words. Returns 0 when a key
 * path is longer than 255 characters or the image directory longer than 248, which would not
 * name the key or the file meant.
 */
static int TakeTvWords(char** words) {
    size_t directorySize = sizeof(TvImagePath) - strlen(TV_IMAGE_FILE_NAME);
    if (!CopyTvWord(CurrentKeyPath, sizeof(CurrentKeyPath), words[3]) ||
        !CopyTvWord(DefaultKeyPath, sizeof(DefaultKeyPath), words[4]) ||
        !CopyTvWord(TvImagePath, directorySize, words[2]))
        return 0;
    strcat(TvImagePath, TV_IMAGE_FILE_NAME);
    return 1;
}

/* Sets an outline corner: red is r 255, g 10, b 10; green is r 10, g 255, b 10. */
static void SetOutlineCorner(GrVertex* vertex, float x, float y, int red) {
    memset(vertex, 0, sizeof(*vertex));
    vertex->x = x;
    vertex->y = y;
    vertex->r = red ? 255.0f : 10.0f;
    vertex->g = red ? 10.0f : 255.0f;
    vertex->b = 10.0f;
}

/***********************************************************************
 *           BuildTvOutline
 *
 * Builds the four rectangles at insets 25, 45, 24 and 44 from the screen edges, corners in
 * the order top-left, top-right, bottom-right, bottom-left. Rectangles 1 and 3 (the outer
 * frame) start red at the top-left, 2 and 4 (the inner frame) green; colours alternate
 * corner by corner.
 */
static void BuildTvOutline(float width, float height) {
    static const float Insets[4] = {25.0f, 45.0f, 24.0f, 44.0f};
    for (int r = 0; r < 4; r++) {
        float d = Insets[r];
        int redFirst = (r % 2) == 0;
        GrVertex* corner = &TvOutline[r * 4];
        SetOutlineCorner(&corner[0], d, d, redFirst);
        SetOutlineCorner(&corner[1], width - d, d, !redFirst);
        SetOutlineCorner(&corner[2], width - d, height - d, redFirst);
        SetOutlineCorner(&corner[3], d, height - d, !redFirst);
    }
}

/***********************************************************************
 *           DrawTvFrame
 *
 * Draws one frame into the back buffer and shows it at the next retrace: black, the test
 * image at (64, 48) when there is one, and the sixteen outline lines in iterated colour.
 */
static void DrawTvFrame(void) {
    grDitherMode(GR_DITHER_DISABLE);
    grBufferClear(0, 0, 0);
    if (TvImagePixels != NULL)
        grLfbWriteRegion(GR_BUFFER_BACKBUFFER, 64, 48, GR_LFB_SRC_FMT_888, TvImageWidth,
                         TvImageHeight, TvImageWidth * 4, TvImagePixels);
    grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                   GR_COMBINE_OTHER_CONSTANT, FXFALSE);
    for (int r = 0; r < 4; r++) {
        GrVertex* corner = &TvOutline[r * 4];
        for (int i = 0; i < 4; i++)
            grDrawLine(&corner[i], &corner[(i + 1) % 4]);
    }
    grBufferSwap(1);
}

/* A change that hits a limit: sound the beep and do not send the change. */
static void TvLimitBeep(void) {
    MessageBeep(0);
    TvApply = 0;
}

/* Shift counts as held when the high byte of its key state is not zero. */
static int TvShiftHeld(void) {
    return (GetKeyState(VK_SHIFT) & 0xFF00) != 0;
}

/***********************************************************************
 *           StepTvShift
 *
 * Moves XSHIFT or YSHIFT one step, held within -128 to 128 (signed). Stepping past a limit
 * leaves the limit, beeps and sends nothing.
 */
static void StepTvShift(LONG* shift, int step) {
    TvApply = 1;
    if (step < 0 && *shift <= -128) {
        *shift = -128;
        TvLimitBeep();
    } else if (step > 0 && *shift >= 128) {
        *shift = 128;
        TvLimitBeep();
    } else {
        *shift += step;
    }
}

/***********************************************************************
 *           StepTvBrightness
 *
 * With Shift 3 brighter, without 3 darker, held within 51 to 80 (unsigned). A step that
 * would pass a limit, or run past the ends of the unsigned range from a value loaded outside
 * 51 to 80, leaves the limit, beeps and sends nothing.
 */
static void StepTvBrightness(void) {
    TvApply = 1;
    if (TvShiftHeld()) {
        if (TvSettings.BRIGHTNESS > 77) {
            TvSettings.BRIGHTNESS = 80;
            TvLimitBeep();
        } else {
            TvSettings.BRIGHTNESS += 3;
        }
    } else {
        if (TvSettings.BRIGHTNESS < 54) {
            TvSettings.BRIGHTNESS = 51;
            TvLimitBeep();
        } else {
            TvSettings.BRIGHTNESS -= 3;
        }
    }
}

/***********************************************************************
 *           StepTvTuning
 *
 * With Shift one up while below 15, without one down while above 0 (unsigned); at a limit
 * nothing changes, a beep sounds and nothing is sent.
 */
static void StepTvTuning(void) {
    TvApply = 1;
    if (TvShiftHeld()) {
        if (TvSettings.TUNING < 15)
            TvSettings.TUNING++;
        else
            TvLimitBeep();
    } else {
        if (TvSettings.TUNING > 0)
            TvSettings.TUNING--;
        else
            TvLimitBeep();
    }
}

/***********************************************************************
 *           ToggleTvScan
 *
 * Switches between underscan and overscan: SCAN 0 becomes 1, anything else 0. Tells the
 * property sheet the new choice (wParam 1 or 0).
 */
static void ToggleTvScan(void) {
    TvApply = 1;
    TvSettings.SCAN = TvSettings.SCAN == 0 ? 1 : 0;
    SendMessageA(HWND_BROADCAST, TvUnderscanOverscanMessage, (WPARAM)TvSettings.SCAN, 0);
}

/***********************************************************************
 *           HandleTvKey
 *
 * Acts on one key code: writes its trace text, then changes, reloads or saves the settings.
 * Returns 1 for Esc, after telling the property sheet (wParam 1); 0 otherwise. Codes that no
 * key binds do nothing.
 */
static int HandleTvKey(signed char key) {
    switch (key) {
    case VK_RETURN:
        OutputDebugStringA("return\n");
        TvApply = 1;
        SaveTvSettings();
        break;
    case VK_ESCAPE:
        OutputDebugStringA("esc\n");
        SendMessageA(HWND_BROADCAST, TvApplicationClosedMessage, 1, 0);
        return 1;
    case VK_SPACE:
        TvApply = 1;
        TvRestart = 1;
        break;
    case VK_LEFT:
        OutputDebugStringA("left\n");
        StepTvShift(&TvSettings.XSHIFT, -1);
        break;
    case VK_UP:
        OutputDebugStringA("up\n");
        StepTvShift(&TvSettings.YSHIFT, 1);
        break;
    case VK_RIGHT:
        OutputDebugStringA("right\n");
        StepTvShift(&TvSettings.XSHIFT, 1);
        break;
    case VK_DOWN:
        OutputDebugStringA("down\n");
        StepTvShift(&TvSettings.YSHIFT, -1);
        break;
    case '1':
        OutputDebugStringA("111\n");
        TvApply = 1;
        RestoreTvDefaults();
        break;
    case '2':
        OutputDebugStringA("222\n");
        TvApply = 1;
        RestoreTvSetting(TV_XSHIFT_VALUE);
        RestoreTvSetting(TV_YSHIFT_VALUE);
        break;
    case '3':
        OutputDebugStringA("333\n");
        TvApply = 1;
        RestoreTvSetting(TV_TUNING_VALUE);
        break;
    case '4':
        OutputDebugStringA("444\n");
        TvApply = 1;
        RestoreTvSetting(TV_BRIGHTNESS_VALUE);
        break;
    case 'B':
        OutputDebugStringA("bbb\n");
        StepTvBrightness();
        break;
    case 'D':
        OutputDebugStringA("ddd\n");
        ToggleTvScan();
        break;
    case 'F':
        OutputDebugStringA("fff\n");
        TvApply = 1;
        TvSettings.FFILTER = TvSettings.FFILTER == 3 ? 0 : 3;
        break;
    case 'S':
        OutputDebugStringA("sss\n");
        TvApply = 1;
        TvSettings.SHARPNESS = TvSettings.SHARPNESS == 3 ? 1 : 3;
        break;
    case 'T':
        OutputDebugStringA("ttt\n");
        StepTvTuning();
        break;
    default:
        break;
    }
    return 0;
}

/***********************************************************************
 *           ApplyTvSettings
 *
 * Sends the whole record to the board when the key asked for it. After a Space the output
 * is first switched off (ENABLE 0) and then on: ENABLE is 1 from then on.
 */
static void ApplyTvSettings(void) {
    if (!TvApply)
        return;
    if (TvRestart) {
        TvRestart = 0;
        TvSettings.ENABLE = 0;
        grSetTVOperationKVX((const FxI32*)&TvSettings);
        TvSettings.ENABLE = 1;
    }
    grSetTVOperationKVX((const FxI32*)&TvSettings);
    TvApply = 0;
}

/***********************************************************************
 *           OpenTvBoard
 *
 * Opens the board full screen at 640 x 480, 60 Hz, and builds the outline for its size.
 * Returns 0 when another program holds the board, after saying so in a message box and
 * shutting Glide down.
 */
static int OpenTvBoard(void) {
    grGlideInit();
    grSstSelect(0);
    if (!grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                      GR_ORIGIN_UPPER_LEFT, 2, 1)) {
        MessageBoxA(NULL, BoardBusyText, NULL, MB_OK);
        grGlideShutdown();
        return 0;
    }
    float height = (float)grSstScreenHeight();
    float width = (float)grSstScreenWidth();
    BuildTvOutline(width, height);
    return 1;
}

/***********************************************************************
 *           RunTvTest
 *
 * Mode 0. Needs exactly five words: mode, bitmap, image directory, current key, default key;
 * other counts, or a key path or directory too long for its area, end the process with exit
 * code 1 before the board is touched. Loads the settings, reads the test image (running on
 * without one when it cannot be read) and draws frames until Esc, a refused resize or the end
 * of the countdown; one key is handled per frame. Returns after shutting Glide down.
 */
void RunTvTest(int count, char** words) {
    memset(CurrentKeyPath, 0, sizeof(CurrentKeyPath));
    memset(DefaultKeyPath, 0, sizeof(DefaultKeyPath));
    if (count != 5 || !TakeTvWords(words))
        exit(1);

    LoadTvSettings();
    TvImagePixels = ReadTvTestImage(TvImagePath, &TvImageWidth, &TvImageHeight);

    if (!OpenTvBoard())
        return;

    TvApply = 0;
    TvRestart = 0;
    TvFrameCountdown = 4294967294u;
    for (;;) {
        if (!IsResizeOk())
            break;
        DrawTvFrame();
        if (KeyAvailable()) {
            if (HandleTvKey(GetKey()))
                break;
            ApplyTvSettings();
        }
        if (TvFrameCountdown == 0)
            break;
        TvFrameCountdown--;
    }
    grGlideShutdown();
}
