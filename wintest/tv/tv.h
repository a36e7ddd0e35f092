/*
 * The TV adjustment test (mode 0): the TV test image reader, the ten TV settings and the run
 * that changes them from the keyboard and sends them to the board's TV extension.
 */
#ifndef WINTEST_TV_H
#define WINTEST_TV_H

#include <windows.h>

/* The TV settings in the order the board's TV extension receives them: ten 32-bit fields,
 * one after the other (40 bytes). Also the order of loading and saving. */
struct TvSettingsRecord {
    LONG ENABLE;      /* 0 = TV output off, 1 = on */
    LONG OUTPUT;      /* kept as loaded */
    LONG SCAN;        /* underscan or overscan */
    LONG FORMAT;      /* kept as loaded */
    LONG XSHIFT;      /* horizontal position, -128 to 128 */
    LONG YSHIFT;      /* vertical position, -128 to 128 */
    DWORD BRIGHTNESS; /* 51 to 80 in steps of 3 */
    DWORD TUNING;     /* 0 to 15 */
    LONG SHARPNESS;   /* 1 or 3 */
    LONG FFILTER;     /* flicker filter, 0 or 3 */
};
extern TvSettingsRecord TvSettings;

/* Registry value names of the settings that the restore keys name. */
#define TV_XSHIFT_VALUE "SST_TV_XSHIFT_KVX"
#define TV_YSHIFT_VALUE "SST_TV_YSHIFT_KVX"
#define TV_BRIGHTNESS_VALUE "SST_TV_BRIGHTNESS_KVX"
#define TV_TUNING_VALUE "SST_TV_TUNING_KVX"

void LoadTvSettings(void);
void SaveTvSettings(void);
void RestoreTvDefaults(void);
void RestoreTvSetting(const char* valueName);

/* Largest width or height of a TV test image that the reader accepts. */
#define TV_IMAGE_MAX_SIDE 4096

DWORD* ReadTvTestImage(const char* path, int* width, int* height);

#endif
