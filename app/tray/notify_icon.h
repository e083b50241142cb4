// The icon in the notification area: its tooltip shows the gear, its menu has Show, the
// game's gear and Quit, and its balloons say what needs the user.
#ifndef GEARVANE_TRAY_NOTIFY_ICON_H
#define GEARVANE_TRAY_NOTIFY_ICON_H

#include <windows.h>

enum {
    WM_APP_NOTIFY_ICON = WM_APP + 1,  // the icon's mouse messages
    ID_MENU_SHOW = 40001,
    ID_MENU_QUIT = 40002,
};

// Adds the icon, first removing one that a restarted Explorer may still hold. Returns false
// when there is no notification area to add it to (yet).
bool AddNotifyIcon(HWND window, HICON icon, const wchar_t *tip);
void SetNotifyTip(HWND window, const wchar_t *tip);
void RemoveNotifyIcon(HWND window);

// A balloon from the icon; a click on it comes as WM_APP_NOTIFY_ICON with NIN_BALLOONUSERCLICK.
void ShowNotifyBalloon(HWND window, const wchar_t *title, const wchar_t *text);

// The menu at the mouse, with `gears` (which it destroys) as the game's gear, or none when
// null; its choice comes to `window` as WM_COMMAND.
void ShowNotifyMenu(HWND window, HMENU gears);

// The icon for the notification area, at the size Windows shows it there.
HICON LoadNotifyIcon(HINSTANCE instance, int id);

#endif
