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

/* The query of a read offers this many bytes: a value of more bytes cannot be read. */
#define BOARD_SETTING_TEXT_SIZE 200

/* Size of the text area that ReadBoardSetting fills: the 200 bytes of the query and one more
 * for the terminating zero, which a value of exactly 200 bytes without one still gets. */
#define BOARD_SETTING_AREA_SIZE (BOARD_SETTING_TEXT_SIZE + 1)

/* text: an area of exactly BOARD_SETTING_AREA_SIZE bytes; a smaller one does not compile. */
BOOL ReadBoardSetting(HKEY root, const char* keyPath, const char* valueName,
                      char (&text)[BOARD_SETTING_AREA_SIZE]);
BOOL WriteBoardSetting(HKEY root, const char* keyPath, const char* valueName, const char* text);

#endif
