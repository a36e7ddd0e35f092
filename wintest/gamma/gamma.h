/*
 * The gamma correction test (mode 1): the hidden window that follows the property sheet's
 * gamma messages, and the adjustment run that steps the three channels from the keyboard.
 */
#ifndef WINTEST_GAMMA_H
#define WINTEST_GAMMA_H

#include <windows.h>

/* The three gamma values and the enable flag, shared by the window and the run. */
struct GammaStateRecord {
    float redGamma;   /* gamma of red; not greater than 0.0 means not set yet */
    float greenGamma; /* the same for green */
    float blueGamma;  /* the same for blue */
    int gammaEnabled; /* 1 while correction is on; the run replaces it with the stored flag */
};
extern GammaStateRecord GammaState;

/* What the keys last computed; the window procedure never touches it. */
struct GammaKeyRecord {
    int redTenths;       /* red gamma times ten, rounded; refreshed when a key steps red */
    int greenTenths;     /* the same for green */
    int blueTenths;      /* the same for blue */
    DWORD packedTenths;  /* red in bits 0-7, green in 8-15, blue in 16-23 */
    int selectedChannel; /* channel last stepped: 0 red, 1 green, 2 blue, 3 all three */
};
extern GammaKeyRecord GammaKeyState;

/* The gamma test's registered messages, in the order CreateGammaMessageWindow registers them;
 * between the second and the third it registers the sheet's closing (PropertySheetClosedMessage
 * of the shell), which it receives. */
extern UINT GammaMsgChanged;      /* KVXPS_GLIDE_GAMMA_CHANGED, sent */
extern UINT GammaMsgSheetChanged; /* KVXPS_SHEET_GAMMA_CHANGED, received */
extern UINT GammaMsgAppClosed;    /* KVXPS_GAMMA_APPLICATION_CLOSED, sent */
extern UINT GammaMsgEnable;       /* KVXPS_GLIDE_GAMMA_ENABLE, sent */
extern UINT GammaMsgDefault;      /* KVXPS_GLIDE_GAMMA_DEFAULT, sent */
extern UINT GammaMsgSheetEnable;  /* KVXPS_SHEET_GAMMA_ENABLE, received */

/* Value a channel starts from, and the value of the default and disable keys. */
const float DefaultGamma = 1.7f;
/* Change of one key press. */
const float GammaStep = 0.1f;
/* The keys keep every channel within these bounds; the property sheet may go beyond. */
const double GammaMin = 0.5;
const double GammaMax = 4.0;

void CreateGammaMessageWindow(void);
LRESULT CALLBACK GammaWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

void HandleGammaKey(signed char key);
void DrawGammaBands(void);

#endif
