/*
 * The application shell: start-up and command line, the test window, the keyboard queue and
 * the message pumping that runs while a test draws.
 */
#ifndef WINTEST_SHELL_H
#define WINTEST_SHELL_H

#include <windows.h>

/* Start-up state (winmain.cpp) */
extern char CommandLineCopy[1024];
extern char* ArgVector[32];
extern int TestMode;
extern char WindowTitle[128];
extern UINT TvUnderscanOverscanMessage; /* KVXPS_TV_UNDERSCAN_OVERSCAN */
extern UINT TvApplicationClosedMessage; /* KVXPS_TV_APPLICATION_CLOSED */
extern const char BoardBusyText[]; /* the box of every test when another program has the board */
extern UINT PropertySheetClosedMessage; /* KVXPS_SHEET_CLOSED; the gamma test reacts too */

char** SplitCommandLine(const char* tail, int* count);

/* Test window state (test_window.cpp) */
extern HWND TestWindow;
extern int ResizeOk;
extern int ShiftDown;

int CreateTestWindow(const char* title, HINSTANCE instance, const char* bitmapFileName);
LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
int IsResizeOk(void);

/* Keyboard queue (key_queue.cpp) */
struct KeyQueueState {
    DWORD slots[256];    /* full wParam of each WM_KEYDOWN */
    unsigned writeIndex; /* next slot to fill; pushed only by TestWindowProc */
    unsigned readIndex;  /* oldest unread slot; advanced only by GetKey */
};
extern KeyQueueState KeyQueue;

void PushKey(DWORD code);
int KeyAvailable(void);
signed char GetKey(void);

/* The entry routines of the three tests. */
void RunTvTest(int count, char** words);
void RunGammaTest(int count, char** words);
void RunGlideTest(int count, char** words);

#endif
