// The window: a dialog template of its own class, "gearvane-tray", whose procedure hands what
// the user and Windows do to tray.h. The config file's window has the class too.
#ifndef GEARVANE_TRAY_DIALOG_H
#define GEARVANE_TRAY_DIALOG_H

#include <windows.h>

extern const wchar_t WindowClass[];

// Registers the windows' class, with the program's icon. False when it cannot.
bool RegisterTrayClass(HINSTANCE instance);

// Creates the window, hidden. Returns null when it cannot.
HWND CreateTrayWindow(HINSTANCE instance);

#endif
