/*
 * The test window: the small captioned popup that shows the bitmap while a test drives the
 * board. Its window procedure passes moves and resizes on to the board, paints the bitmap,
 * queues key presses and ends the process when it is closed or the property sheet goes away.
 */
#include "shell.h"
#include "sheet_messages.h"

#include "dib/dib.h"
#include "glide.h"

#include <stdlib.h>

/* The test window; set once by CreateTestWindow, destroyed by WinMain after the test. */
HWND TestWindow;

/* 1 while the board accepts the window's size; 0 once it has refused a resize. */
int ResizeOk = 1;

/* 1 from a WM_KEYDOWN of Shift to its WM_KEYUP; the gamma test reads it. */
int ShiftDown = 0;

static const char TestWindowClass[] = "WinGlideClass";

/***********************************************************************
 *           CloseMessageOfMode
 *
 * The message that tells the property sheet which test has ended. Modes 1 and 2 share the
 * gamma test's message; a name always registers to the same number, so asking again here
 * gives the number that the test registered (and a valid one if it has not yet).
 */
static UINT CloseMessageOfMode(void) {
    if (TestMode == 0)
        return TvApplicationClosedMessage;
    return RegisterWindowMessageA(KVXPS_GAMMA_APPLICATION_CLOSED);
}

/***********************************************************************
 *           OnMove
 *
 * Tells the board that the window moved; a refusal closes the window at the next pump.
 * Returns nonzero when the default processing should follow. The close goes to the window
 * itself: during CreateWindowExA the TestWindow handle is not set yet, and a close posted
 * to it would be lost.
 */
static BOOL OnMove(HWND hwnd) {
    if (grSstControl(GR_CONTROL_MOVE))
        return TRUE;
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return FALSE;
}

/***********************************************************************
 *           OnSize
 *
 * Tells the board that the window or the display changed size. A refusal shows the
 * allocation failure box once, then closes the window at the next pump (posted to the window
 * itself, as for a move) and clears ResizeOk.
 */
static BOOL OnSize(HWND hwnd) {
    if (grSstControl(GR_CONTROL_RESIZE)) {
        ResizeOk = 1;
        return TRUE;
    }
    MessageBoxA(hwnd, "Resize failed due to lack of sufficient buffer memory.\n",
                "Allocation Failure", MB_OK);
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    ResizeOk = 0;
    return FALSE;
}

/***********************************************************************
 *           OnPaint
 *
 * Paints the bitmap at the window's scroll position.
 */
static void OnPaint(HWND hwnd) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    PaintBitmap(hwnd, dc, GetScrollPos(hwnd, SB_HORZ), GetScrollPos(hwnd, SB_VERT));
    EndPaint(hwnd, &paint);
}

/***********************************************************************
 *           OnClose
 *
 * Tells the property sheet that the test of the mode ended, shuts the board down and ends
 * the process with 0. Does not return.
 */
static void OnClose(void) {
    SendMessageA(HWND_BROADCAST, CloseMessageOfMode(), 0, 0);
    grGlideShutdown();
    exit(0);
}

/***********************************************************************
 *           TestWindowProc
 */
LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MOVE:
        if (!OnMove(hwnd))
            return 0;
        break;
    case WM_SIZE:
    case WM_DISPLAYCHANGE:
        if (!OnSize(hwnd))
            return 0;
        break;
    case WM_PAINT:
        OnPaint(hwnd);
        return 1;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_SETCURSOR:
        SetCursor(LoadCursorA(NULL, IDC_ARROW));
        return 0;
    case WM_KEYDOWN:
        PushKey((DWORD)wParam);
        if (wParam == VK_SHIFT)
            ShiftDown = 1;
        break;
    case WM_KEYUP:
        if (wParam == VK_SHIFT)
            ShiftDown = 0;
        break;
    default:
        if (message == PropertySheetClosedMessage) {
            grGlideShutdown();
            exit(0);
        }
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

/***********************************************************************
 *           CreateTestWindow
 *
 * Registers the window class, creates the test window, loads the bitmap into it under the
 * wait cursor and shows it. Returns 1 when the window exists, 0 when registering the class
 * or creating the window failed; a bitmap that cannot be loaded is not a failure.
 */
int CreateTestWindow(const char* title, HINSTANCE instance, const char* bitmapFileName) {
    WNDCLASSA wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = TestWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszMenuName = NULL;
    wc.lpszClassName = TestWindowClass;
    if (!RegisterClassA(&wc))
        return 0;

    TestWindow = CreateWindowExA(WS_EX_APPWINDOW, TestWindowClass, title,
                                 WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_THICKFRAME, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 272, 288, NULL, NULL, instance, NULL);
    if (TestWindow == NULL)
        return 0;

    SetCursor(LoadCursorA(NULL, IDC_ARROW));
    HCURSOR keptCursor = SetCursor(LoadCursorA(NULL, IDC_WAIT));

    if (LoadBitmapFile(bitmapFileName, TestWindow))
        InvalidateRect(TestWindow, NULL, FALSE);
    else
        BitmapState.BitmapValid = FALSE;

    SetCursor(keptCursor);
    ShowWindow(TestWindow, SW_SHOWNORMAL);
    UpdateWindow(TestWindow);
    return 1;
}

/***********************************************************************
 *           IsResizeOk
 */
int IsResizeOk(void) {
    return ResizeOk;
}
