// The notification-area icon.
#include "notify_icon.h"

#include <shellapi.h>
#include <wchar.h>

namespace {

NOTIFYICONDATAW Data(HWND window, UINT flags)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = flags;
    return data;
}

}  // namespace

bool AddNotifyIcon(HWND window, HICON icon, const wchar_t *tip)
{
    RemoveNotifyIcon(window);
    NOTIFYICONDATAW data = Data(window, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = WM_APP_NOTIFY_ICON;
    data.hIcon = icon;
    wcsncpy(data.szTip, tip, ARRAYSIZE(data.szTip) - 1);
    return Shell_NotifyIconW(NIM_ADD, &data);
}

void SetNotifyTip(HWND window, const wchar_t *tip)
{
    NOTIFYICONDATAW data = Data(window, NIF_TIP);
    wcsncpy(data.szTip, tip, ARRAYSIZE(data.szTip) - 1);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void RemoveNotifyIcon(HWND window)
{
    NOTIFYICONDATAW data = Data(window, 0);
    Shell_NotifyIconW(NIM_DELETE, &data);
}

void ShowNotifyBalloon(HWND window, const wchar_t *title, const wchar_t *text)
{
    NOTIFYICONDATAW data = Data(window, NIF_INFO);
    wcsncpy(data.szInfoTitle, title, ARRAYSIZE(data.szInfoTitle) - 1);
    wcsncpy(data.szInfo, text, ARRAYSIZE(data.szInfo) - 1);
    data.dwInfoFlags = NIIF_WARNING;
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void ShowNotifyMenu(HWND window, HMENU gears)
{
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, ID_MENU_SHOW, L"&Show");
    if (gears)
        AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(gears), L"The &game is in");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, ID_MENU_QUIT, L"&Quit");
    SetMenuDefaultItem(menu, ID_MENU_SHOW, FALSE);
    POINT at;
    GetCursorPos(&at);
    // Without the foreground, the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

HICON LoadNotifyIcon(HINSTANCE instance, int id)
{
    // LoadIconMetric picks and scales the icon as the notification area wants it; it came
    // with Vista's common controls, so it is looked up.
    using Metric = HRESULT(WINAPI *)(HINSTANCE, PCWSTR, int, HICON *);
    HMODULE controls = GetModuleHandleW(L"comctl32.dll");
    auto load = controls ? reinterpret_cast<Metric>(reinterpret_cast<void *>(GetProcAddress(controls, "LoadIconMetric")))
                         : nullptr;
    HICON icon = nullptr;
    if (load && SUCCEEDED(load(instance, MAKEINTRESOURCEW(id), 0 /* LIM_SMALL */, &icon)))
        return icon;
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), 0));
}
