/*
 * Start-up: the process entry, the command line and the dispatch by mode.
 */
#include "shell.h"
#include "sheet_messages.h"

#include <stdio.h>
#include <string.h>

/* Copy of the command-line tail, cut into NUL-terminated words by SplitCommandLine. */
char CommandLineCopy[1024];

/* Entry 0 is always "WinTest"; entries 1 to 31 point into CommandLineCopy. */
char* ArgVector[32];

/* The mode read from the command line; the test window reads it when it is closed. */
int TestMode = 0;

/* Title of the test window; the bitmap loader sets it again after fitting the window. */
char WindowTitle[128];

/* Text of the box that each test shows when another program holds the board. */
const char BoardBusyText[] =
    "Display property test cannot run due to presence of another running D3D or glide "
    "application.  Please exit or close D3D or glide application and restart the Display "
    "Properties.";

/* Property-sheet messages that the shell and the TV test use, registered first thing. */
UINT TvUnderscanOverscanMessage;
UINT TvApplicationClosedMessage;
UINT PropertySheetClosedMessage;

static char ProgramName[] = "WinTest";

/* Words are separated by spaces only; a word starting at this offset or later is dropped. */
#define ARGUMENT_SCAN_LIMIT 1022

static const char* const TitleOfMode[3] = {
    "Kavix TV Adjustment",
    "Kavix Gamma Correction Adjustment",
    "Kavix Glide Test",
};

/***********************************************************************
 *           SplitCommandLine
 *
 * Cuts a copy of the command-line tail into words at spaces; tabs and quotes are ordinary
 * characters. Returns ArgVector and stores the count (1 to 32). A tail longer than the copy
 * is cut to fit; the 31st word keeps the rest of the line, spaces included.
 */
char** SplitCommandLine(const char* tail, int* count) {
    ArgVector[0] = ProgramName;
    *count = 1;
    if (tail == NULL)
        return ArgVector;

    size_t length = strlen(tail);
    if (length > sizeof(CommandLineCopy) - 1)
        length = sizeof(CommandLineCopy) - 1;
    memcpy(CommandLineCopy, tail, length);
    CommandLineCopy[length] = '\0';

    size_t limit = length < ARGUMENT_SCAN_LIMIT ? length : ARGUMENT_SCAN_LIMIT;
    size_t pos = 0;
    for (;;) {
        while (pos < limit && CommandLineCopy[pos] == ' ')
            pos++;
        if (pos >= limit)
            break;
        ArgVector[(*count)++] = &CommandLineCopy[pos];
        if (*count == 32)
            break;
        while (CommandLineCopy[pos] != ' ' && CommandLineCopy[pos] != '\0')
            pos++;
        if (CommandLineCopy[pos] == ' ')
            CommandLineCopy[pos++] = '\0';
    }
    return ArgVector;
}

/***********************************************************************
 *           WinMain
 *
 * Registers the shell's messages, reads the mode, opens the test window and runs the test
 * of the mode. Returns 0 on every path; the tests of modes 1 and 2 end the process instead.
 */
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
    TvUnderscanOverscanMessage = RegisterWindowMessageA(KVXPS_TV_UNDERSCAN_OVERSCAN);
    TvApplicationClosedMessage = RegisterWindowMessageA(KVXPS_TV_APPLICATION_CLOSED);
    PropertySheetClosedMessage = RegisterWindowMessageA(KVXPS_SHEET_CLOSED);

    int count;
    char** words = SplitCommandLine(commandLine, &count);
    if (count < 2)
        return 0;

    sscanf(words[1], "%d", &TestMode);

    const char* bitmapName = "kvxlogo.bmp";
    char** testWords = words;
    int testCount = count;
    if (count >= 3) {
        bitmapName = words[2];
        testWords = words + 1;
        testCount = count - 1;
    }

    if (TestMode < 0 || TestMode > 2)
        return 0;
    strcpy(WindowTitle, TitleOfMode[TestMode]);

    if (!CreateTestWindow(WindowTitle, instance, bitmapName))
        return 0;

    switch (TestMode) {
    case 0:
        RunTvTest(testCount, testWords);
        break;
    case 1:
        RunGammaTest(testCount, testWords);
        break;
    case 2:
        RunGlideTest(testCount, testWords);
        break;
    }

    DestroyWindow(TestWindow);
    return 0;
}
