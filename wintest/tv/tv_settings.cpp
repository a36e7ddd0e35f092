/*
 * The ten TV settings: loading them from the current settings key (the default key as
 * fallback), saving them to the current key, and restoring them from the default key. Each
 * setting is a text value holding its "%d" form.
 */
#include "tv/tv.h"

#include "settings/board_settings.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The settings as the board last received them or as the keys changed them since; changed
 * by the TV run's keys and by the four procedures below. All zero at start. */
TvSettingsRecord TvSettings;

static_assert(sizeof(TvSettingsRecord) == 40, "the board takes ten 32-bit fields");
static_assert(offsetof(TvSettingsRecord, FFILTER) == 36, "no gaps between the fields");

/* Value name and place of each setting, in record order. */
static const struct {
    const char* ValueName;
    size_t Offset;
} TvSettingTable[10] = {
    {"SST_TV_ENABLE_KVX", offsetof(TvSettingsRecord, ENABLE)},
    {"SST_TV_OUTPUT_KVX", offsetof(TvSettingsRecord, OUTPUT)},
    {"SST_TV_SCAN_KVX", offsetof(TvSettingsRecord, SCAN)},
    {"SST_TV_FORMAT_KVX", offsetof(TvSettingsRecord, FORMAT)},
    {TV_XSHIFT_VALUE, offsetof(TvSettingsRecord, XSHIFT)},
    {TV_YSHIFT_VALUE, offsetof(TvSettingsRecord, YSHIFT)},
    {TV_BRIGHTNESS_VALUE, offsetof(TvSettingsRecord, BRIGHTNESS)},
    {TV_TUNING_VALUE, offsetof(TvSettingsRecord, TUNING)},
    {"SST_TV_SHARPNESS_KVX", offsetof(TvSettingsRecord, SHARPNESS)},
    {"SST_TV_FFILTER_KVX", offsetof(TvSettingsRecord, FFILTER)},
};

/* Fields that RestoreTvDefaults takes from the default key: all but ENABLE, OUTPUT, FORMAT. */
static const int TvDefaultFields[7] = {2, 4, 5, 6, 7, 8, 9};

/* The field of a table entry; signed and unsigned fields alike are 32 bits. */
static LONG* TvField(int index) {
    return (LONG*)((char*)&TvSettings + TvSettingTable[index].Offset);
}

/***********************************************************************
 *           ParseSettingText
 *
 * Reads a decimal number as "%d" does (blanks, sign, digits; reading stops at the first
 * other character) into the field. Returns 1 when a number was read; leaves the field
 * unchanged and returns 0 when the text holds none. A number beyond 32 bits is held at the
 * nearest 32-bit value.
 */
static int ParseSettingText(const char* text, LONG* field) {
    char* end;
    long long value = strtoll(text, &end, 10);
    if (end == text)
        return 0;
    if (value > INT32_MAX)
        value = INT32_MAX;
    if (value < INT32_MIN)
        value = INT32_MIN;
    *field = (LONG)value;
    return 1;
}

/* Reads one setting from the default key; the field stays as it is when that fails. */
static void RestoreTvField(int index) {
    char text[BOARD_SETTING_AREA_SIZE];
    ReadBoardSetting(HKEY_LOCAL_MACHINE, DefaultKeyPath, TvSettingTable[index].ValueName, text);
    ParseSettingText(text, TvField(index));
}

/***********************************************************************
 *           LoadTvSettings
 *
 * Loads all ten settings in record order. A value that the current key does not give is read
 * from the default key; one that the current key holds without a number keeps its field as
 * it is (the default key is not asked then). Settings that neither key gives stay unchanged.
 */
void LoadTvSettings(void) {
    for (int i = 0; i < 10; i++) {
        char text[BOARD_SETTING_AREA_SIZE];
        if (!ReadBoardSetting(HKEY_LOCAL_MACHINE, CurrentKeyPath, TvSettingTable[i].ValueName,
                              text))
            ReadBoardSetting(HKEY_LOCAL_MACHINE, DefaultKeyPath, TvSettingTable[i].ValueName, text);
        ParseSettingText(text, TvField(i));
    }
}

/***********************************************************************
 *           SaveTvSettings
 *
 * Writes all ten settings as "%d" texts into the current key, creating it when needed. A
 * failed write is silent and the others are still written.
 */
void SaveTvSettings(void) {
    for (int i = 0; i < 10; i++) {
        char text[16];
        snprintf(text, sizeof(text), "%d", (int)*TvField(i));
        WriteBoardSetting(HKEY_LOCAL_MACHINE, CurrentKeyPath, TvSettingTable[i].ValueName, text);
    }
}

/***********************************************************************
 *           RestoreTvDefaults
 *
 * Takes SCAN, XSHIFT, YSHIFT, BRIGHTNESS, TUNING, SHARPNESS and FFILTER from the default
 * key; ENABLE, OUTPUT and FORMAT stay as they are.
 */
void RestoreTvDefaults(void) {
    for (int i = 0; i < 7; i++)
        RestoreTvField(TvDefaultFields[i]);
}

/***********************************************************************
 *           RestoreTvSetting
 *
 * Takes the one setting of that value name from the default key. An unknown name does
 * nothing.
 */
void RestoreTvSetting(const char* valueName) {
    for (int i = 0; i < 10; i++)
        if (strcmp(TvSettingTable[i].ValueName, valueName) == 0)
            RestoreTvField(i);
}
