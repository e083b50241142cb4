// The window: a dialog template of its own class, "gearvane-tray", whose procedure hands what
// the user and Windows do to tray.h.
#ifndef GEARVANE_TRAY_DIALOG_H
#define GEARVANE_TRAY_DIALOG_H

#include <windows.h>

extern const wchar_t WindowClass[];

// Creates the window, hidden. Returns null when it cannot.
HWND CreateTrayWindow(HINSTANCE instance, HICON icon);

#endif
