/*
 * The board settings store: every setting of a board is one named text value under a
 * registry key that the property sheet names on the command line.
 */
#ifndef WINTEST_BOARD_SETTINGS_H
#define WINTEST_BOARD_SETTINGS_H

#include <windows.h>

/* The two key path areas, each cleared to zeros before a path is copied in. */
extern char CurrentKeyPath[256];
extern char DefaultKeyPath[256];

/* Size of the text area that a read fills: the query offers this many bytes. */
#define BOARD_SETTING_TEXT_SIZE 200

BOOL ReadBoardSetting(HKEY root, const char* keyPath, const char* valueName, char* text);
BOOL WriteBoardSetting(HKEY root, const char* keyPath, const char* valueName, const char* text);

#endif
