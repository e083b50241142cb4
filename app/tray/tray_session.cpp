// gearvane-tray's window thread: its start and its end, the icon, Windows' news, elevated games.
#include "tray_state.h"

#include <dbt.h>
#include <wtsapi32.h>

#include "elevation.h"
#include "lever.h"
#include "notify_icon.h"
#include "text.h"
#include "view.h"

namespace {

const char ElevatedGame[] =
    "the game runs as administrator: Windows blocks gearvane's keys; start gearvane-tray as administrator too";

void AddIcon()
{
    KillTimer(T.window, ID_ICON);
    T.iconShown = AddNotifyIcon(T.window, T.icon, L"gearvane");
    if (T.iconShown) {
        T.tipShown = L"gearvane";
        UpdateGears();
    } else if (T.iconTries++ < ICON_TRIES) {
        SetTimer(T.window, ID_ICON, ICON_RETRY_MS, nullptr);
    }
}

void WarnOfGame(HWND window)
{
    std::wstring game = WindowProgram(window);
    if (game.empty())
        game = L"window " + std::to_wstring(reinterpret_cast<UINT_PTR>(window));
    for (const std::wstring &w : T.warned)
        if (w == game)
            return;
    T.warned.push_back(game);
    Failure("%s", ElevatedGame);
    if (T.iconShown) {
        size_t slash = game.find_last_of(L"\\/");
        std::wstring text = game.substr(slash == std::wstring::npos ? 0 : slash + 1) +
                            L" runs as administrator: Windows blocks gearvane's keys to it. Start gearvane-tray "
                            L"as administrator too.";
        ShowNotifyBalloon(T.window, L"The game cannot get gearvane's keys", text.c_str());
    }
}

void CheckGame()
{
    KillTimer(T.window, ID_GAME);
    HWND window = T.gameToCheck;
    if (!window || GetForegroundWindow() != window)
        return;
    if (CoversMonitor(window))
        WarnOfGame(window);
    else if (++T.gameChecks < GAME_CHECKS)
        SetTimer(T.window, ID_GAME, GAME_CHECK_MS, nullptr);
}

void CALLBACK ForegroundChanged(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD)
{
    KillTimer(T.window, ID_GAME);
    T.gameToCheck = nullptr;
    // A game is an elevated window that covers its monitor; Task Manager and regedit are not.
    if (!window || !WindowElevated(window))
        return;
    T.gameToCheck = window;
    T.gameChecks = 0;
    CheckGame();
}

}  // namespace

int StartTray(HINSTANCE instance, HWND window, HICON icon, const TrayOptions &options, const Settings &settings,
              const std::vector<std::string> &mistakes, const std::string &ignored, std::string *error)
{
    T.window = window;
    T.icon = icon;
    T.options = options;
    T.settings = settings;
    T.defaults = !mistakes.empty();
    T.log.quiet = settings.quiet;
    if (!options.logPath.empty() && !OpenStatusLog(&T.log, options.logPath, error))
        return EXIT_USAGE;
    std::wstring reason;
    if (!CreateDirectInput(instance, &T.controllers.input, &reason)) {
        *error = Utf8(reason) + ".\n\nInstall or repair DirectX (the DirectX End-User Runtime from Microsoft), then "
                                "start gearvane-tray again.";
        return 1;
    }
    if (!Plate())
        T.gateMap = T.settings.mapName;
    T.sample = Released();
    T.orders.settings = Shift(T.settings, 1);
    if (!OpenMailbox(&T.box, window, WM_APP_REPORTS, T.orders) ||
        !StartShifter(instance, &T.box, &T.shifter, &reason)) {
        *error = Utf8(reason.empty() ? L"gearvane-tray cannot make an event" : reason) + ".";
        return 1;
    }
    AddIcon();
    if (T.defaults)
        Mistakes("the default settings are in force this time", mistakes);
    StatusLines(ignored);
    if (!SelfElevated())
        T.foregroundHook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
                                           ForegroundChanged, 0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    T.sessionNotes = WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION);
    // Game controllers are HID devices: their arrivals and removals come as WM_DEVICECHANGE.
    DEV_BROADCAST_DEVICEINTERFACE_W hid = {};
    hid.dbcc_size = sizeof hid;
    hid.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    hid.dbcc_classguid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    T.deviceNotes = RegisterDeviceNotificationW(window, &hid, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!T.options.configPath.empty() && !WatchConfig(&T.watch, T.options.configPath, !T.options.configGiven))
        Failure("the config file's folder cannot be watched (error %lu): edits to it take effect at the next start",
                GetLastError());
    ShowSettings(window, T.settings);
    ShowStartWithWindows(window, StartsWithWindows());
    ShowGateBox();
    T.wanted.name = Wide(T.settings.device);
    T.wanted.known = LoadLeverInstance(T.wanted.name, &T.wanted.instance);
    Rescan();
    if (T.lever == LEVER_NONE && !T.asked)
        Status("waiting for a lever");
    UpdateGears();
    if (T.foregroundHook)
        ForegroundChanged(nullptr, 0, GetForegroundWindow(), 0, 0, 0, 0);
    return 0;
}

bool ShowAtStart()
{
    return !T.options.minimized || !T.iconShown;
}

bool TrayIconShown()
{
    return T.iconShown;
}

void QuitTray(int code)
{
    if (!T.window)
        return;
    StopShifter(&T.shifter);
    if (T.iconShown)
        RemoveNotifyIcon(T.window);
    if (T.foregroundHook)
        UnhookWinEvent(T.foregroundHook);
    if (T.sessionNotes)
        WTSUnRegisterSessionNotification(T.window);
    if (T.deviceNotes)
        UnregisterDeviceNotification(T.deviceNotes);
    T.controllers.list.clear();
    DestroyWindow(T.window);
    T.window = nullptr;
    PostQuitMessage(code);
}

void EndSession()
{
    StopShifter(&T.shifter);
    if (T.iconShown)
        RemoveNotifyIcon(T.window);
    ExitProcess(0);
}

int TrayHandles(HANDLE *handles, int room)
{
    int count = 0;
    if (T.watch.folder.h && count < room)
        handles[count++] = T.watch.folder.h;
    return count + ControllerHandles(T.controllers, handles + count, room - count);
}

void OnTrayHandle(int index)
{
    if (T.watch.folder.h && index-- == 0) {
        DWORD error;
        WatchNews news = FolderChanged(&T.watch, &error);
        if (news == WATCH_CHANGED) {
            T.quietLooks = 0;
            SetTimer(T.window, ID_CONFIG_QUIET, CONFIG_QUIET_MS, nullptr);
        } else if (news == WATCH_BROKEN) {
            Failure("the config file is no longer watched (error %lu): edits to it take effect at the next start",
                    error);
        }
        return;
    }
    if (ReadController(&T.controllers, index))
        ShowList();
}

void OnDeviceChange()
{
    // Windows sends several of these for one device: list the devices once they settle.
    SetTimer(T.window, ID_DEVICES, DEVICES_SETTLE_MS, nullptr);
}

void OnTimer(UINT_PTR id)
{
    switch (id) {
    case ID_DEVICES:
        Rescan();
        // DirectInput may list a device a moment after Windows announced it.
        if (T.lever == LEVER_NONE)
            SetTimer(T.window, ID_RETRY, RETRY_MS, nullptr);
        break;
    case ID_RETRY:
        Rescan();
        break;
    case ID_CONFIG_QUIET:
        OnConfigQuiet();
        break;
    case ID_TYPED:
        TypedTiming(0);
        break;
    case ID_ICON:
        AddIcon();
        break;
    case ID_GAME:
        CheckGame();
        break;
    }
}

void OnTaskbarCreated()
{
    T.iconTries = 0;
    AddIcon();
}

void OnIconMessage(LPARAM what)
{
    if (what == WM_LBUTTONUP || what == WM_LBUTTONDBLCLK || what == NIN_BALLOONUSERCLICK)
        BringForward(T.window);
    else if (what == WM_RBUTTONUP || what == WM_CONTEXTMENU)
        ShowNotifyMenu(T.window, T.lever == LEVER_OPEN ? GearMenu(T.settings.maxGear, T.gameGear) : nullptr);
}

void OnShown(bool shown)
{
    SetControllersLive(&T.controllers, shown);
    if (shown)
        ShowList();
}

void OnClose()
{
    HideWindow(T.window, T.iconShown);
}

void SetPaused(int reason, bool paused)
{
    int was = T.pausedBy;
    T.pausedBy = paused ? was | reason : was & ~reason;
    if ((was != 0) != (T.pausedBy != 0)) {
        T.orders.paused = T.pausedBy != 0;
        Order();
    }
}
