// gearvane-tray's window thread: what the user and Windows ask of it, and what it makes of
// the input thread's reports.
#include "tray.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <dbt.h>
#include <wtsapi32.h>

#include <vector>

#include "../../config/gate_map.h"
#include "../../config/key_names.h"
#include "../../config/scan_codes.h"
#include "../../resources/tray_resource.h"
#include "config_watch.h"
#include "controllers.h"
#include "elevation.h"
#include "gate_learning.h"
#include "lever.h"
#include "mailbox.h"
#include "notify_icon.h"
#include "shifter.h"
#include "status.h"
#include "text.h"
#include "view.h"

namespace {

enum {
    DEVICES_SETTLE_MS = 100,
    RETRY_MS = 1000,
    TYPED_MS = 500,
    ICON_RETRY_MS = 2000,
    ICON_TRIES = 60,  // two minutes: Explorer may come late at log-on
    GAME_CHECK_MS = 2000,
    GAME_CHECKS = 5,  // a game may go full screen a while after it comes forward
    QUIET_LOOKS = 50,  // ten seconds of a file held open before it is given up
};

enum LeverState { LEVER_NONE, LEVER_OPENING, LEVER_OPEN };

struct Tray {
    HWND window = nullptr;
    HICON icon = nullptr;
    bool iconShown = false;
    int iconTries = 0;
    std::wstring tipShown;

    TrayOptions options;
    Settings settings;
    bool defaults = false;  // the config file has mistakes: the defaults are in force this time
    bool plateChosen = false;  // the plate in force was chosen, not left there as nothing was learned
    std::string gateMap;  // the last gate map in force, to go back to from a plate
    StatusLog log;
    ConfigWatch watch;
    int quietLooks = 0;

    Mailbox box;
    ShifterThread shifter;
    Orders orders = {};
    unsigned generations = 0;
    int pausedBy = 0;

    Controllers controllers;
    LeverWanted wanted;
    bool asked = false;  // several controllers and none chosen: the user was asked

    // The lever, as ordered and as the input thread reports it.
    LeverState lever = LEVER_NONE;
    InstanceId leverInstance = {};
    std::wstring leverName;
    Sample sample = {};
    int32_t leverGear = GEAR_NONE, gameGear = GEAR_NONE;
    bool busy = false;
    bool reporting = false;  // gameGear is the game's own report

    // The output and the telemetry, as the input thread reports them.
    VJoyNews vjoy = {};
    bool listening = false;  // on listenAt
    std::string listenAt;    // "127.0.0.1:5300"
    unsigned long deaf = 0;  // the error of the port that could not be had
    TelemetryFormat format = TELEMETRY_UNKNOWN;

    GateLearning learning;
    std::wstring learnNote;  // the outcome of learning, shown until the lever moves

    int keyWanted = 0;   // the key box whose key is asked for ("Press a key..."), or 0
    UINT keyTaken = 0;   // the scan code of the key taken: its key-up is not the window's
    HWINEVENTHOOK foregroundHook = nullptr;
    HDEVNOTIFY deviceNotes = nullptr;
    bool sessionNotes = false;
    std::vector<std::wstring> warned;  // the elevated games warned of
    HWND gameToCheck = nullptr;
    int gameChecks = 0;
};

Tray T;

const char ElevatedGame[] =
    "the game runs as administrator: Windows blocks gearvane's keys; start gearvane-tray as administrator too";

void AddLine(bool failure, const char *format, va_list args)
{
    char line[512];
    vsnprintf(line, sizeof line, format, args);
    AddStatusLine(&T.log, line, failure);
    ShowStatus(T.window, StatusText(T.log));
}

void Status(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    AddLine(false, format, args);
    va_end(args);
}

void Failure(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    AddLine(true, format, args);
    va_end(args);
}

void StatusLines(const std::string &lines)
{
    for (size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
        Status("%s", lines.substr(start, end - start).c_str());
}

void Order()
{
    PostOrders(&T.box, T.orders);
}

ShiftSettings Shift(const Settings &s, unsigned listen)
{
    ShiftSettings set = {};
    set.map = s.map;
    set.maxGear = s.maxGear;
    set.timing = TimingOf(s, 1000);
    set.upCode = s.upCode;
    set.downCode = s.downCode;
    set.vjoy = s.output == OUTPUT_SHIFTER;
    set.vjoyDevice = s.vjoyDevice;
    set.telemetryIp = s.telemetryIp;
    set.telemetryPort = s.telemetryPort;
    set.listen = listen;
    return set;
}

// The settings to the input thread. Telemetry is listened for again where it moved, or with
// `listenAgain` where it is.
void OrderSettings(bool listenAgain = false)
{
    const ShiftSettings was = T.orders.settings;
    bool moved = was.telemetryIp != T.settings.telemetryIp || was.telemetryPort != T.settings.telemetryPort;
    T.orders.settings = Shift(T.settings, was.listen + (moved || listenAgain));
    T.orders.settingsVersion++;
    Order();
}

std::string Address(uint32_t ip)
{
    return std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 255) + "." + std::to_string(ip >> 8 & 255) +
           "." + std::to_string(ip & 255);
}

// The telemetry's state for the window: off, waiting for packets on 5300, Forza Horizon 4/5.
std::wstring TelemetryState()
{
    std::string at = T.listenAt.compare(0, 10, "127.0.0.1:") == 0 ? T.listenAt.substr(10) : T.listenAt;
    if (T.deaf)
        return Wide("off: " + at + (T.deaf == 10048 ? " is taken" : " cannot be had"));  // WSAEADDRINUSE
    if (!T.listening)
        return L"off";
    if (T.format == TELEMETRY_UNKNOWN)
        return Wide("waiting for packets on " + at);
    return Wide(std::string(TelemetryFormatName(T.format)) + (T.reporting ? "" : ", lost"));
}

// What stops the vJoy shifter, for the window and the status lines.
std::string VJoyText(const VJoyNews &v)
{
    std::string device = "vJoy device " + std::to_string(v.device);
    switch (v.state) {
    case VJOY_OFF:
        return "";
    case VJOY_IN_USE:
        return device + ", buttons 1 (up) and 2 (down)";
    case VJOY_MISSING:
        return "vJoy is not installed";
    case VJOY_UNUSABLE:
        return "vJoy's vJoyInterface.dll cannot be used (error " + std::to_string(v.error) + "): install vJoy again";
    case VJOY_DISABLED:
        return "vJoy is disabled: enable it in Configure vJoy";
    case VJOY_TAKEN:
        return (v.device ? device + " is" : "every vJoy device with two buttons is") + " taken by another program";
    case VJOY_NO_DEVICE:
        return v.device ? device + " does not exist: add it in Configure vJoy"
                        : "vJoy has no device with two buttons: add one in Configure vJoy";
    case VJOY_FEW_BUTTONS:
        return device + " has " + std::to_string(v.buttons) + " button" + (v.buttons == 1 ? "" : "s") +
               ": give it two or more in Configure vJoy";
    case VJOY_REFUSED:
        return "vJoy would not hand over " + device;
    case VJOY_LOST:
        return device + " stopped taking its buttons";
    }
    return "";
}

bool PlateChosen()
{
    std::vector<SettingValue> file;
    std::string error;
    ReadConfigText(T.options.configText, "", &file, &error);
    for (const SettingValue &v : file)
        if (v.key == "plate")
            return true;
    for (const SettingValue &v : T.options.line.settings)
        if (v.key == "plate")
            return true;
    return false;
}

bool Plate()
{
    return T.settings.mapName == "standard" || T.settings.mapName == "nascar";
}

// The first thing to do, at the top of the window.
std::wstring NextStep()
{
    if (T.asked)
        return L"Several game controllers are plugged in: choose the lever under Game controllers.";
    if (T.lever != LEVER_OPEN) {
        if (!T.wanted.name.empty() && !T.controllers.list.empty())
            return L"Plug in " + T.wanted.name + L", or choose another lever under Game controllers.";
        return L"Plug in your gear lever: gearvane finds it by itself.";
    }
    if (T.learning.on)
        return L"Learning the gates: move the lever as the Gates box asks.";
    if (Plate() && !T.plateChosen)
        return L"Next: click Learn gates, then move the lever into each gear it asks for.";
    return L"Ready: click into the game and shift. Hide keeps gearvane running in the notification area.";
}

// The game's gear under the lever's: the game's own report, or where the taps took it.
std::wstring GameGearText()
{
    return (T.reporting ? L"The game reports " : L"The game is taken to be in ") + GearText(T.gameGear);
}

void UpdateGears()
{
    bool open = T.lever == LEVER_OPEN;
    std::wstring name = T.lever == LEVER_NONE ? L"No lever." : T.leverName;
    if (T.learning.on)
        ShowLever(T.window, T.learning.reset ? L"Learning: press the button for" : L"Learning: move the lever into",
                  LearningAsks(T.learning), L"", false);
    else if (open)
        ShowLever(T.window, name, Wide(GearName(T.leverGear)), GameGearText(), true);
    else
        ShowLever(T.window, name, L"", L"", false);
    ShowNextStep(T.window, NextStep());
    ShowTelemetryState(T.window, TelemetryState());
    // The tooltip goes through Explorer, which may be slow to answer: not while taps are
    // under way (the input thread would not wait, but the window would lag).
    std::wstring tip = L"gearvane: " + (open ? GearText(T.gameGear) : L"waiting for a lever");
    if (T.iconShown && tip != T.tipShown && !T.busy) {
        SetNotifyTip(T.window, tip.c_str());
        T.tipShown = tip;
    }
}

// The Gates box: what is learned so far while learning, else the gates in force and the
// hint, or the outcome of the last learning. Called whenever the settings change.
void ShowGateBox()
{
    bool lever = T.lever == LEVER_OPEN;
    if (T.learning.on) {
        ShowAnswers(T.window, T.learning.learn, T.learning.reset);
        ShowLearnButtons(T.window, LearningPrompt(T.learning), true, lever);
        return;
    }
    T.plateChosen = PlateChosen();
    ShowGates(T.window, T.settings, T.plateChosen);
    const wchar_t *hint = lever ? L"A button per gear? Click Learn gates, then move the lever into each gear asked for."
                                : L"Plug the lever in to learn its gates.";
    ShowLearnButtons(T.window, T.learnNote.empty() ? hint : T.learnNote, false, lever);
}

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

// A window edit wins over the command line from now on, also when the file is read again
// and at the next start with Windows.
void Forget(const char *key)
{
    auto &given = T.options.line.settings;
    bool forgot = false;
    for (size_t i = given.size(); i-- > 0;)
        if (given[i].key == key) {
            given.erase(given.begin() + i);
            forgot = true;
        }
    std::string error;
    if (forgot && StartsWithWindows() && !SetStartWithWindows(true, T.options, &error))
        Failure("%s", error.c_str());
}

void Save(const std::vector<std::pair<std::string, std::string>> &set)
{
    std::string error;
    if (!SaveTraySettings(&T.options, set, &error))
        Failure("settings not saved: %s", error.c_str());
}

// --- the game controllers and the lever ----------------------------------------------------

bool IsLever(const Controller &c)
{
    return T.lever != LEVER_NONE && c.instance == T.leverInstance;
}

void ShowList()
{
    const wchar_t *note = T.asked ? L"Which one is the lever? Select it, then click Use as the lever."
                          : T.controllers.list.empty() ? L"No game controller is plugged in."
                                                       : L"";
    ShowControllers(T.window, ControllerRows(T.controllers, T.lever != LEVER_NONE ? &T.leverInstance : nullptr),
                    note);
    EnableWindow(GetDlgItem(T.window, IDC_USE_LEVER), SelectedController(T.window) >= 0);
}

void Drive(const Controller &c)
{
    // The lever taken is the one waited for when it is unplugged, whatever else is there.
    if (T.wanted.name.empty())
        T.wanted.name = c.name;
    T.wanted.known = true;
    T.wanted.instance = c.instance;
    T.lever = LEVER_OPENING;
    T.leverInstance = c.instance;
    T.leverName = c.name;
    T.asked = false;
    T.orders.lever = ToGuid(c.instance);
    T.orders.generation = ++T.generations;
    Order();
}

void Ask()
{
    if (T.asked)
        return;
    T.asked = true;
    Status("%d game controllers are plugged in and none is chosen as the lever: choose it in the window",
           static_cast<int>(T.controllers.list.size()));
    if (T.iconShown)
        ShowNotifyBalloon(T.window, L"Which one is the lever?",
                          L"Several game controllers are plugged in. Open gearvane and choose the lever under Game "
                          L"controllers.");
}

void StopLearning(const wchar_t *note)
{
    if (!T.learning.on)
        return;
    T.learning.on = false;
    T.orders.learning = false;
    Order();
    T.learnNote = note;
    ShowGateBox();
    UpdateGears();
}

void LeverGone()
{
    T.lever = LEVER_NONE;
    T.sample = Released();
    T.leverGear = GEAR_NONE;
    Status("lever unplugged; waiting for it");
    if (T.learning.on) {
        StopLearning(L"");
        Status("learning stopped: the gates stay as they were");
    }
    ShowGateBox();
    UpdateGears();
}

// Lists the game controllers afresh and, with no lever open, takes the one wanted, or asks.
void Rescan()
{
    KillTimer(T.window, ID_DEVICES);
    KillTimer(T.window, ID_RETRY);
    ListControllersAgain(&T.controllers, T.window);
    std::vector<Controller> attached = Attached(T.controllers);
    bool listed = false;
    for (const Controller &c : attached)
        listed = listed || IsLever(c);
    if (T.lever != LEVER_NONE && !listed) {
        T.orders.generation = 0;
        Order();
        LeverGone();
    }
    if (T.lever == LEVER_NONE) {
        int chosen = ChooseLever(attached, T.wanted);
        if (chosen >= 0)
            Drive(attached[chosen]);
        else if (chosen == CHOICE_ASK)
            Ask();
        else
            T.asked = false;
    }
    ShowList();
    UpdateGears();
}

// --- learning ------------------------------------------------------------------------------

void FinishLearning()
{
    T.learning.on = false;
    T.orders.learning = false;
    const GateMap &map = T.learning.learn.map;
    if (map.count == 0) {
        Order();
        T.learnNote = L"No gear learned: the gates stay as they were.";
        ShowGateBox();
        UpdateGears();
        return;
    }
    char text[200];
    FormatGateMap(map, text, sizeof text);
    std::string name = Utf8(T.leverName);
    T.settings.map = map;
    T.settings.mapName = T.gateMap = text;
    T.settings.device = name;
    for (const char *key : {"gate", "plate", "device"})
        Forget(key);
    Save(LearnedSettings(name, map));
    SaveLeverInstance(T.leverName, T.leverInstance);
    T.wanted = {T.leverName, true, T.leverInstance};
    OrderSettings();
    Status("gates learned from %s: %s", name.c_str(), text);
    ShowSettings(T.window, T.settings);
    T.learnNote = L"Learned. The lever shifts again from its next move.";
    ShowGateBox();
    T.leverGear = DecodeGate(map, T.sample).gear;
    UpdateGears();
}

// After an answer, a Skip or a Done: the next question, or the end.
void Learned(bool ended)
{
    if (ended) {
        FinishLearning();
        return;
    }
    ShowGateBox();
    UpdateGears();
}

// --- the config file -----------------------------------------------------------------------

bool SameMap(const GateMap &a, const GateMap &b)
{
    if (a.count != b.count || a.resetButton != b.resetButton || a.exact != b.exact)
        return false;
    for (int i = 0; i < a.count; i++)
        if (a.entries[i].gear != b.entries[i].gear || a.entries[i].input.kind != b.entries[i].input.kind ||
            a.entries[i].input.value != b.entries[i].input.value)
            return false;
    return true;
}

bool SameSettings(const Settings &a, const Settings &b)
{
    return SameMap(a.map, b.map) && a.maxGear == b.maxGear && a.holdMs == b.holdMs && a.gapMs == b.gapMs &&
           a.upKey == b.upKey && a.downKey == b.downKey && a.quiet == b.quiet && a.device == b.device &&
           a.output == b.output && a.vjoyDevice == b.vjoyDevice && a.telemetryIp == b.telemetryIp &&
           a.telemetryPort == b.telemetryPort && a.telemetryWaitMs == b.telemetryWaitMs;
}

// The config file's mistakes, each on a line of its own.
void Mistakes(const char *what, const std::vector<std::string> &mistakes)
{
    if (mistakes.size() == 1) {
        Failure("%s: %s", what, mistakes[0].c_str());
        return;
    }
    Failure("%s: the config file has %d mistakes:", what, static_cast<int>(mistakes.size()));
    for (const std::string &m : mistakes)
        Failure("  %s", m.c_str());
}

void Reload()
{
    Settings fresh;
    std::string ignored;
    std::vector<std::string> mistakes;
    switch (ReloadTraySettings(&T.options, &fresh, &mistakes, &ignored)) {
    case RELOAD_SAME:
        return;
    case RELOAD_GONE:
        Status("the config file is gone: the settings in force stay");
        return;
    case RELOAD_EMPTY:
        Status("the config file is empty: the settings in force stay");
        return;
    case RELOAD_BAD:
        Mistakes("settings not reloaded", mistakes);
        return;
    case RELOAD_NEW:
        break;
    }
    // The lever stays the one in use.
    fresh.device = T.settings.device;
    bool mended = T.defaults;
    T.defaults = false;
    if (SameSettings(fresh, T.settings) && !mended)
        return;
    T.settings = fresh;
    T.log.quiet = fresh.quiet;
    if (!Plate())
        T.gateMap = fresh.mapName;
    OrderSettings();
    Status(mended ? "the config file is mended: its settings apply" : "settings reloaded");
    StatusLines(ignored);
    ShowSettings(T.window, T.settings);
    ShowGateBox();
    UpdateGears();
}

void OnConfigQuiet()
{
    KillTimer(T.window, ID_CONFIG_QUIET);
    if (ConfigQuiet(&T.watch)) {
        Reload();
    } else if (++T.quietLooks < QUIET_LOOKS) {
        SetTimer(T.window, ID_CONFIG_QUIET, CONFIG_QUIET_MS, nullptr);
    } else {
        Failure("the config file stays open in another program: it was not read again");
    }
}

// --- elevated games ------------------------------------------------------------------------

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
    ReadController(&T.controllers, index);
    ShowList();
}

namespace {

void Notify(const wchar_t *title, const std::string &text)
{
    if (T.iconShown)
        ShowNotifyBalloon(T.window, title, Wide(text).c_str());
}

// The status lines of the taps' news, with the names of what they went out on.
void SayTaps(const Report &r)
{
    int count;
    const KeyScan *keys = KeyScans(&count);
    char news[256];
    if (r.buttons)
        FormatNews(r.news, "vJoy button 1", "vJoy button 2", news, sizeof news);
    else if (r.upCode >= 0 && r.upCode < count && r.downCode >= 0 && r.downCode < count)
        FormatNews(r.news, ReadableKey(keys[r.upCode].name), ReadableKey(keys[r.downCode].name), news, sizeof news);
    else
        news[0] = '\0';
    StatusLines(news);
}

void OnOutput(const VJoyNews &v)
{
    VJoyState was = T.vjoy.state;
    T.vjoy = v;
    bool failed = v.state != VJOY_IN_USE && v.state != VJOY_OFF;
    ShowOutputState(T.window, Wide(VJoyText(v) + (failed ? " (keys are sent)" : "")));
    if (v.state == VJOY_IN_USE) {
        Status("output: %s", VJoyText(v).c_str());
    } else if (!failed) {
        if (was != VJOY_OFF)
            Status("output: keyboard keys");
    } else {
        Failure("output: %s: sending keys instead", VJoyText(v).c_str());
        Notify(L"gearvane sends keys instead of vJoy buttons", VJoyText(v) + ".");
    }
}

void OnTelemetryNews(const Report &r)
{
    if (r.kind == REPORT_LISTENING || r.kind == REPORT_DEAF) {
        bool was = T.listening;
        T.listenAt = Address(r.telemetryIp) + ":" + std::to_string(r.telemetryPort);
        T.listening = r.kind == REPORT_LISTENING && r.telemetryPort;
        T.deaf = r.kind == REPORT_DEAF ? r.error : 0;
        if (T.listening)
            Status("telemetry: waiting for packets on %s", T.listenAt.c_str());
        else if (T.deaf) {
            std::string why = ListenError(static_cast<int>(r.error), T.listenAt);
            Failure("cannot listen for telemetry on UDP %s: %s; until then, taps are counted", T.listenAt.c_str(),
                    why.c_str());
            Notify(L"gearvane cannot read the game's gear", "UDP " + T.listenAt + ": " + why + ".");
        } else if (was)
            Status("telemetry: off");
        return;
    }
    const TelemetryNews &n = r.telemetry;
    for (int f = 0; f < 32; f++)
        if (n.formats >> f & 1) {
            if (f == TELEMETRY_FORZA_SLED)
                Status("telemetry: Forza's Sled format has no gear: choose Dash in the game's Data Out settings");
            else
                Status("telemetry: %s", TelemetryFormatName(static_cast<TelemetryFormat>(f)));
        }
    if (n.foreign)
        Status("telemetry: packets from %s dropped: only this computer's are read on %s", Address(n.foreign).c_str(),
               T.listenAt.c_str());
    char drops[256];
    if (FormatDrops(n.drops, drops, sizeof drops)) {
        drops[strcspn(drops, "\n")] = '\0';
        Status("telemetry: %s", drops);
    }
}

// The reports that are about no lever: the output and the telemetry. False for the others.
bool OnThreadNews(const Report &r)
{
    if (r.kind != REPORT_OUTPUT && r.kind != REPORT_LISTENING && r.kind != REPORT_DEAF && r.kind != REPORT_TELEMETRY)
        return false;
    T.gameGear = r.gameGear;
    T.reporting = r.reporting;
    T.busy = r.busy;
    T.format = r.format;
    if (r.kind == REPORT_OUTPUT)
        OnOutput(r.vjoy);
    else
        OnTelemetryNews(r);
    SayTaps(r);
    UpdateGears();
    return true;
}

}  // namespace

void OnReports()
{
    Report r;
    unsigned dropped;
    while (TakeReport(&T.box, &r, &dropped)) {
        if (dropped)
            Failure("the window fell behind: %u reports of the lever were lost", dropped);
        if (r.kind == REPORT_STOPPED) {
            Failure("gearvane-tray stopped: waiting for events failed (error %lu)", r.error);
            std::wstring text = L"gearvane-tray stopped: waiting for events failed (error " +
                                std::to_wstring(r.error) + L")";
            MessageBoxW(T.window, text.c_str(), L"gearvane", MB_OK | MB_ICONERROR);
            QuitTray(1);
            return;
        }
        if (OnThreadNews(r))
            continue;
        // Reports of a lever given up since are old news.
        if (r.generation != T.orders.generation || !r.generation)
            continue;
        T.sample = r.sample;
        T.leverGear = r.leverGear;
        T.gameGear = r.gameGear;
        T.reporting = r.reporting;
        T.busy = r.busy;
        T.format = r.format;
        switch (r.kind) {
        case REPORT_OPENED:
            T.lever = LEVER_OPEN;
            Status("lever: %s", Utf8(T.leverName).c_str());
            ShowGateBox();
            ShowList();
            break;
        case REPORT_FAILED:
            T.lever = LEVER_NONE;
            Failure("the lever %s cannot be opened; trying again", Utf8(T.leverName).c_str());
            SetTimer(T.window, ID_RETRY, RETRY_MS, nullptr);
            break;
        case REPORT_LOST:
            LeverGone();
            ShowList();
            // Unplugged, Windows says so too; otherwise it may be back in a moment.
            SetTimer(T.window, ID_RETRY, RETRY_MS, nullptr);
            break;
        case REPORT_POLLED:
            Status("this lever signals no changes: it is read every %d ms", POLL_MS);
            break;
        case REPORT_REFUSED:
            Failure("Windows refused a key; trying again");
            break;
        case REPORT_SAMPLE:
            if (T.learning.on) {
                Learned(LearnGateFrom(&T.learning, r.sample));
            } else if (!T.learnNote.empty()) {
                T.learnNote.clear();
                ShowGateBox();
            }
            break;
        default:
            break;
        }
        SayTaps(r);
        UpdateGears();
    }
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

void ChooseMaxGear(int maxGear)
{
    T.settings.maxGear = maxGear;
    Forget("max-gear");
    Save({{"max-gear", std::to_string(maxGear)}});
    OrderSettings();
}

void TypedTiming(int code)
{
    if (code == EN_CHANGE) {
        SetTimer(T.window, ID_TYPED, TYPED_MS, nullptr);
        return;
    }
    KillTimer(T.window, ID_TYPED);
    int hold = ShownNumber(T.window, IDC_HOLD), gap = ShownNumber(T.window, IDC_GAP);
    bool holdValid = hold >= 1 && hold <= 1000, gapValid = gap >= 0 && gap <= 1000;
    std::vector<std::pair<std::string, std::string>> set;
    if (holdValid && hold != T.settings.holdMs) {
        T.settings.holdMs = hold;
        Forget("hold-ms");
        set.push_back({"hold-ms", std::to_string(hold)});
    }
    if (gapValid && gap != T.settings.gapMs) {
        T.settings.gapMs = gap;
        Forget("gap-ms");
        set.push_back({"gap-ms", std::to_string(gap)});
    }
    if (!set.empty()) {
        Save(set);
        OrderSettings();
    }
    // Leaving a box with something that is no value puts back the one in force.
    if (code == EN_KILLFOCUS && (!holdValid || !gapValid))
        ShowSettings(T.window, T.settings);
}

namespace {

void SetKey(bool up, int index)
{
    int count;
    const KeyScan *keys = KeyScans(&count);
    if (index < 0 || index >= count)
        return;
    const KeyScan *key = &keys[index];
    std::string &name = up ? T.settings.upKey : T.settings.downKey;
    const std::string &other = up ? T.settings.downKey : T.settings.upKey;
    if (other == key->name) {
        Failure("the up key and the down key must be two different keys");
        ShowSettings(T.window, T.settings);
        return;
    }
    name = key->name;
    (up ? T.settings.upCode : T.settings.downCode) = TrayKeyCode(name);
    const char *setting = up ? "up-key" : "down-key";
    Forget(setting);
    Save({{setting, name}});
    OrderSettings();
}

void WaitForKey(int box)
{
    if (T.keyWanted == box)
        return;
    T.keyWanted = box;
    const std::string &key = box == IDC_UP_KEY ? T.settings.upKey : T.settings.downKey;
    Status("press the key that shifts %s, or Esc to keep %s", box == IDC_UP_KEY ? "up" : "down",
           ReadableKey(key.c_str()));
}

void StopWaitingForKey()
{
    T.keyWanted = 0;
    ShowSettings(T.window, T.settings);
}

}  // namespace

void ChooseKey(int box, int key, int code)
{
    if (key >= 0 && code == CBN_SELCHANGE) {
        T.keyWanted = 0;
        SetKey(box == IDC_UP_KEY, key);
    } else if (key < 0 && code == CBN_CLOSEUP) {
        WaitForKey(box);
    } else if (key < 0 && code == CBN_SELCHANGE &&
               !SendDlgItemMessageW(T.window, box, CB_GETDROPPEDSTATE, 0, 0)) {
        // Not while the list is open: the key that closes it is no answer.
        WaitForKey(box);
    } else if (code == CBN_KILLFOCUS && T.keyWanted) {
        StopWaitingForKey();
    }
}

bool TakeKey(const MSG &msg)
{
    bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
    bool up = msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP;
    UINT scan = (msg.lParam >> 16) & 0xFF;
    if (!T.keyWanted) {
        // The key-up of the key taken: a lone Alt's would open the window's menu.
        bool taken = up && T.keyTaken && scan == T.keyTaken;
        if (taken || down)
            T.keyTaken = 0;
        return taken;
    }
    if (!down)
        return up || msg.message == WM_CHAR || msg.message == WM_SYSCHAR;
    WPARAM vk = msg.wParam;
    // Esc gives up; the arrows and Tab stay the window's, to move on with.
    if (vk == VK_ESCAPE || vk == VK_UP || vk == VK_DOWN || vk == VK_LEFT || vk == VK_RIGHT || vk == VK_TAB) {
        StopWaitingForKey();
        return vk == VK_ESCAPE;
    }
    // Num Lock comes with the E0 flag although it sends none.
    const KeyScan *key = vk == VK_NUMLOCK ? FindKeyScan("KEY_NUMLOCK") : FindKeyByScan(scan, msg.lParam >> 24 & 1);
    if (!key) {
        Failure("that key cannot shift: press another, or Esc");
        return true;
    }
    int count;
    int box = T.keyWanted;
    T.keyWanted = 0;
    T.keyTaken = scan;
    SetKey(box == IDC_UP_KEY, static_cast<int>(key - KeyScans(&count)));
    ShowSettings(T.window, T.settings);
    return true;
}

void ChooseOutput(bool vjoy)
{
    T.settings.output = vjoy ? OUTPUT_SHIFTER : OUTPUT_KEYBOARD;
    Forget("output");
    Save({{"output", vjoy ? "shifter" : "keyboard"}});
    OrderSettings();
}

void TypedTelemetry()
{
    wchar_t typed[64];
    GetDlgItemTextW(T.window, IDC_TELEMETRY_PORT, typed, 64);
    Settings s = T.settings;
    std::string error;
    if (!JoinSettings({{"telemetry", Utf8(typed), "telemetry"}}, {}, TrayKeyCode, &s, &error)) {
        Failure("%s", error.c_str());
        ShowSettings(T.window, T.settings);
        return;
    }
    bool moved = s.telemetryIp != T.settings.telemetryIp || s.telemetryPort != T.settings.telemetryPort;
    // The same port again, after it could not be had, is another try.
    if (!moved && !T.deaf)
        return;
    T.settings = s;
    Forget("telemetry");
    Save({{"telemetry", TelemetryField(s).empty() ? "off" : Utf8(TelemetryField(s))}});
    OrderSettings(true);
    ShowSettings(T.window, T.settings);
}

void ChoosePlate(int plate)
{
    Settings &s = T.settings;
    if (plate == 2) {
        char error[200];
        if (T.gateMap.empty() || !ParseGateMap(T.gateMap.c_str(), &s.map, error, sizeof error)) {
            ShowSettings(T.window, s);
            T.learnNote = L"There is no gate map yet: Learn gates makes one.";
            ShowGateBox();
            return;
        }
        s.mapName = T.gateMap;
        Save({{"gate", s.mapName}});
    } else {
        s.map = plate ? NascarPlate : StandardPlate;
        s.mapName = plate ? "nascar" : "standard";
        Save({{"plate", s.mapName}});
    }
    Forget("plate");
    Forget("gate");
    ShowSettings(T.window, s);
    ShowGateBox();
    OrderSettings();
    UpdateGears();
}

void ChooseStartWithWindows(bool on)
{
    std::string error;
    if (!SetStartWithWindows(on, T.options, &error)) {
        Failure("%s", error.c_str());
        ShowStartWithWindows(T.window, !on);
    }
}

void ChooseController()
{
    EnableWindow(GetDlgItem(T.window, IDC_USE_LEVER), SelectedController(T.window) >= 0);
}

void ClickUseLever()
{
    int i = SelectedController(T.window);
    std::vector<Controller> attached = Attached(T.controllers);
    if (i < 0 || i >= static_cast<int>(attached.size()))
        return;
    const Controller &c = attached[i];
    std::string name = Utf8(c.name);
    T.wanted = {c.name, true, c.instance};
    T.settings.device = name;
    Forget("device");
    Save({{"device", name}});
    SaveLeverInstance(c.name, c.instance);
    if (IsLever(c))
        return;
    StopLearning(L"");
    Status("lever chosen: %s", name.c_str());
    T.lever = LEVER_NONE;
    Drive(c);
    ShowList();
    UpdateGears();
}

void ClickLearn()
{
    if (T.learning.on) {
        StopLearning(L"Learning cancelled: the gates stay as they were.");
        return;
    }
    if (T.lever != LEVER_OPEN)
        return;
    // No taps while the lever answers questions.
    T.orders.learning = true;
    Order();
    StartGateLearning(&T.learning, T.sample);
    Learned(false);
}

void ClickSkip()
{
    if (T.learning.on)
        Learned(SkipGate(&T.learning));
}

void ClickDone()
{
    if (T.learning.on)
        Learned(EndGates(&T.learning));
}

void ClickSetGear()
{
    RECT r;
    GetWindowRect(GetDlgItem(T.window, IDC_SET_GEAR), &r);
    HMENU menu = GearMenu(T.settings.maxGear, T.gameGear);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.bottom, 0, T.window, nullptr);
    DestroyMenu(menu);
}

void SetGameGear(int32_t gear)
{
    if (gear < GEAR_REVERSE || gear > GEAR_TOP)
        return;
    T.orders.gameGear = gear;
    T.orders.gameGearSaid++;
    Order();
}
