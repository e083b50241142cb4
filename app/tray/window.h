// The window: a dialog template of its own class, "gearvane-tray". These functions show
// what the program knows; the dialog's controls call the Choose and Click functions of
// tray.h.
#ifndef GEARVANE_TRAY_WINDOW_H
#define GEARVANE_TRAY_WINDOW_H

#include <windows.h>

#include <string>

#include "../../config/settings.h"

enum {
    WM_APP_SHOW = WM_APP + 2,  // from a second start: come forward
    WM_APP_QUIT = WM_APP + 3,  // from gearvane-tray --quit
};

extern const wchar_t WindowClass[];

// Creates the window, hidden. Returns null when it cannot.
HWND CreateTrayWindow(HINSTANCE instance, HICON icon);

void ShowLeverName(HWND window, const std::wstring &name);  // empty: none
void ShowGears(HWND window, bool lever, int32_t leverGear, int32_t gameGear);
void ShowSettings(HWND window, const Settings &settings);
void ShowStatus(HWND window, const std::wstring &text);
// Learning: the prompt (empty: a hint), whether learning is under way, and whether a lever
// is there to learn.
void ShowLearning(HWND window, const std::wstring &prompt, bool learning, bool lever);
void ShowStartWithWindows(HWND window, bool on);

// Shows the window and brings it to the front.
void BringForward(HWND window);
// Hides it to the notification area, or minimises it when there is none.
void HideWindow(HWND window, bool toNotifyArea);

// The gear as the window and the tooltip name it: "3rd gear", "reverse", "neutral".
std::wstring GearText(int32_t gear);

#endif
