/*
 * The gamma message window: a hidden top-level window through which the gamma test hears the
 * property sheet's gamma changes, its enable switch and its closing. It is never shown and
 * lives until the process ends.
 */
#include "gamma.h"
#include "sheet_messages.h"

#include "glide.h"
#include "shell.h"

#include <stdlib.h>

/* The gamma values and the enable flag. Changed by GammaWindowProc (property sheet messages)
 * and by the keys of the run (HandleGammaKey); the run reads the stored flag at start. */
GammaStateRecord GammaState = {0.0f, 0.0f, 0.0f, 1};

/* Message numbers, set once by CreateGammaMessageWindow. */
UINT GammaMsgChanged;
UINT GammaMsgSheetChanged;
UINT GammaMsgAppClosed;
UINT GammaMsgEnable;
UINT GammaMsgDefault;
UINT GammaMsgSheetEnable;

static const char GammaWindowClass[] = "KVXMyWindow";
static const char GammaWindowTitle[] = "Kavix Gamma Correction Adjustment";

/***********************************************************************
 *           RegisterGammaMessages
 *
 * Registers the seven gamma message names, the sheet's closing among them (in the shell's
 * PropertySheetClosedMessage); a name gives the same number in every process and wherever
 * else this program registers it.
 */
static void RegisterGammaMessages(void) {
    GammaMsgChanged = RegisterWindowMessageA(KVXPS_GLIDE_GAMMA_CHANGED);
    GammaMsgSheetChanged = RegisterWindowMessageA(KVXPS_SHEET_GAMMA_CHANGED);
    GammaMsgAppClosed = RegisterWindowMessageA(KVXPS_GAMMA_APPLICATION_CLOSED);
    PropertySheetClosedMessage = RegisterWindowMessageA(KVXPS_SHEET_CLOSED);
    GammaMsgEnable = RegisterWindowMessageA(KVXPS_GLIDE_GAMMA_ENABLE);
    GammaMsgDefault = RegisterWindowMessageA(KVXPS_GLIDE_GAMMA_DEFAULT);
    GammaMsgSheetEnable = RegisterWindowMessageA(KVXPS_SHEET_GAMMA_ENABLE);
}

/***********************************************************************
 *           CreateGammaMessageWindow
 *
 * Registers the gamma messages, the class "KVXMyWindow" and creates the hidden window. A
 * failure is silent on purpose: without the window the run still works from the keyboard
 * and the test window still ends the process when the property sheet closes.
 */
void CreateGammaMessageWindow(void) {
    RegisterGammaMessages();

    WNDCLASSA wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = GammaWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = NULL;
    wc.hIcon = NULL;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszMenuName = NULL;
    wc.lpszClassName = GammaWindowClass;
    RegisterClassA(&wc);

    CreateWindowExA(0, GammaWindowClass, GammaWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, NULL, NULL);
}

/* One channel of a packed wParam: an unsigned byte of tenths as a gamma value. */
static float GammaFromTenths(WPARAM packed, int shift) {
    return (float)((packed >> shift) & 0xFF) * 0.1f;
}

/***********************************************************************
 *           OnSheetGammaChanged
 *
 * Stores the three values the property sheet sends, whether or not correction is on, with
 * no range check (0.0 to 25.5). Sends them to the board only while correction is on. The
 * tenths and the channel that the keys keep are left alone.
 */
static void OnSheetGammaChanged(WPARAM wParam) {
    GammaState.redGamma = GammaFromTenths(wParam, 0);
    GammaState.greenGamma = GammaFromTenths(wParam, 8);
    GammaState.blueGamma = GammaFromTenths(wParam, 16);
    if (GammaState.gammaEnabled == 1)
        grGammaCorrectionKVX(GammaState.redGamma, GammaState.greenGamma, GammaState.blueGamma);
}

/***********************************************************************
 *           OnSheetGammaEnable
 *
 * wParam 1 switches correction on without a board call: the board keeps its curve until the
 * next change. Any other value switches it off and puts the board back to the default
 * curve; the stored values stay as they are.
 */
static void OnSheetGammaEnable(WPARAM wParam) {
    if (wParam == 1) {
        GammaState.gammaEnabled = 1;
        return;
    }
    GammaState.gammaEnabled = 0;
    grGammaCorrectionKVX(DefaultGamma, DefaultGamma, DefaultGamma);
}

/***********************************************************************
 *           GammaWindowProc
 *
 * Follows the property sheet's gamma messages; its closing shuts the board down and ends the
 * process with exit code 0, saving nothing and sending nothing. Every message, handled or
 * not, then goes to DefWindowProcA, whose result is returned.
 */
LRESULT CALLBACK GammaWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == GammaMsgSheetChanged) {
        OnSheetGammaChanged(wParam);
    } else if (message == PropertySheetClosedMessage) {
        grGlideShutdown();
        exit(0);
    } else if (message == GammaMsgSheetEnable) {
        OnSheetGammaEnable(wParam);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
