/*
 * The registered messages between the program and the display property sheet, by name. A
 * registered message means the same message in every process that registers the same name,
 * so these texts are the whole of the protocol: the program, the property sheet stand-in and
 * the tests all take them from here.
 */
#ifndef WINTEST_SHEET_MESSAGES_H
#define WINTEST_SHEET_MESSAGES_H

/* Sent by the TV test: wParam 1 for underscan, 0 for overscan. */
#define KVXPS_TV_UNDERSCAN_OVERSCAN "KVXPS Test TV Underscan Overscan"
/* Sent when the TV test ends: wParam 1 when Enter saved the settings. */
#define KVXPS_TV_APPLICATION_CLOSED "KVXPS Test TV Application Closed"
/* Sent when the gamma test or the Glide test ends. */
#define KVXPS_GAMMA_APPLICATION_CLOSED "KVXPS Test Gamma Application Closed"
/* Sent by the gamma test: the three values in tenths, the enable switch, the default key. */
#define KVXPS_GLIDE_GAMMA_CHANGED "KVXPS Glide Gamma Correction Changed"
#define KVXPS_GLIDE_GAMMA_ENABLE "KVXPS Glide Gamma Correction Enable"
#define KVXPS_GLIDE_GAMMA_DEFAULT "KVXPS Glide Gamma Correction Default"

/* Every message the sheet sends starts with this. */
#define KVXPS_SHEET_PREFIX "KVXPS Property Sheet "
/* Sent by the sheet: it closes, and the test ends without saving. */
#define KVXPS_SHEET_CLOSED "KVXPS Property Sheet Closed"
/* Sent by the sheet: new gamma values in tenths, the enable switch. */
#define KVXPS_SHEET_GAMMA_CHANGED "KVXPS Property Sheet Gamma Correction Changed"
#define KVXPS_SHEET_GAMMA_ENABLE "KVXPS Property Sheet Gamma Correction Enable"

#endif /* WINTEST_SHEET_MESSAGES_H */
