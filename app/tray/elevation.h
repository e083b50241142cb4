// Windows drops the keys that a program sends to an elevated one unless it is elevated too,
// and an elevated program's objects are closed to the others unless it opens them.
#ifndef GEARVANE_TRAY_ELEVATION_H
#define GEARVANE_TRAY_ELEVATION_H

#include <windows.h>

#include <string>

// Whether this process runs elevated (as administrator).
bool SelfElevated();

// Whether the process of `window` runs elevated. False when it cannot be told.
bool WindowElevated(HWND window);

// Whether `window` covers the whole of its monitor, as a game does (a maximised window leaves
// the taskbar uncovered).
bool CoversMonitor(HWND window);

// The program file of the window's process, or "" when it cannot be told.
std::wstring WindowProgram(HWND window);

// Creates or opens the mutex `name` so that this user's processes can open it whether they
// are elevated or not. Returns it with GetLastError() as CreateMutexW leaves it.
HANDLE CreateUserMutex(const wchar_t *name);

#endif
