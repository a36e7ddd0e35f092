/*
 * The board settings store: every setting of a board is one named text value (REG_SZ) under
 * a settings key that the property sheet names on the command line. The store knows nothing
 * of what a value means; each call opens and closes its key.
 */
#include "settings/board_settings.h"

#include <string.h>

/* Key of the settings that are read first and the only key written; filled by the TV and
 * gamma runs from their command line. */
char CurrentKeyPath[256];

/* Key that is only read: the TV run's fallback and the source of its restore keys. */
char DefaultKeyPath[256];

/***********************************************************************
 *           ReadBoardSetting
 *
 * Reads a value as text into an area of BOARD_SETTING_AREA_SIZE bytes (the parameter's type
 * holds every caller to that size: the terminator may land on its last byte). The query offers
 * BOARD_SETTING_TEXT_SIZE bytes and ignores the type: the bytes are the text, which ends at
 * the first zero byte or at the end of the data. A key that does not exist is created.
 * Returns 1 when the value was read; 0 with an empty text when the key cannot be opened, the
 * value is missing or it holds more than 200 bytes.
 */
BOOL ReadBoardSetting(HKEY root, const char* keyPath, const char* valueName,
                      char (&text)[BOARD_SETTING_AREA_SIZE]) {
    HKEY key;
    DWORD disposition;
    DWORD type;
    DWORD size = BOARD_SETTING_TEXT_SIZE;
    char emptyClass[1] = "";

    text[0] = '\0';
    if (RegCreateKeyExA(root, keyPath, 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                        &key, &disposition) != ERROR_SUCCESS)
        return FALSE;
    LONG result = RegQueryValueExA(key, valueName, NULL, &type, (LPBYTE)text, &size);
    RegCloseKey(key);

    if (result != ERROR_SUCCESS) {
        text[0] = '\0';
        return FALSE;
    }
    /* The area has room for a zero after all 200 bytes; one inside the data ends it earlier. */
    if (size > BOARD_SETTING_TEXT_SIZE)
        size = BOARD_SETTING_TEXT_SIZE;
    text[size] = '\0';
    return TRUE;
}

/***********************************************************************
 *           WriteBoardSetting
 *
 * Stores the text with its terminating zero as a REG_SZ value, creating the key when it does
 * not exist. Returns 1 when the value was stored, 0 otherwise; the key is closed either way.
 */
BOOL WriteBoardSetting(HKEY root, const char* keyPath, const char* valueName, const char* text) {
    HKEY key;

    if (RegCreateKeyA(root, keyPath, &key) != ERROR_SUCCESS)
        return FALSE;
    LONG result =
        RegSetValueExA(key, valueName, 0, REG_SZ, (const BYTE*)text, (DWORD)(strlen(text) + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}
