// The icon in the notification area: its tooltip shows the gear, its menu has Show and Quit.
#ifndef GEARVANE_TRAY_NOTIFY_ICON_H
#define GEARVANE_TRAY_NOTIFY_ICON_H

#include <windows.h>

enum {
    WM_APP_NOTIFY_ICON = WM_APP + 1,  // the icon's mouse messages
    ID_MENU_SHOW = 40001,
    ID_MENU_QUIT = 40002,
};

// Adds the icon (again, after Explorer restarted). Returns false when there is no
// notification area to add it to.
bool AddNotifyIcon(HWND window, HICON icon, const wchar_t *tip);
void SetNotifyTip(HWND window, const wchar_t *tip);
void RemoveNotifyIcon(HWND window);

// The menu at the mouse; its choice comes to `window` as WM_COMMAND.
void ShowNotifyMenu(HWND window);

#endif
