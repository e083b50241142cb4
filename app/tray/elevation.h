// Windows drops the keys that a program sends to an elevated one unless it is elevated too.
#ifndef GEARVANE_TRAY_ELEVATION_H
#define GEARVANE_TRAY_ELEVATION_H

#include <windows.h>

// Whether this process runs elevated (as administrator).
bool SelfElevated();

// Whether the process of `window` runs elevated. False when it cannot be told.
bool WindowElevated(HWND window);

#endif
