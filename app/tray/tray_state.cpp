// The window thread's status lines, its orders, and the lever and the gates as it shows them.
#include "tray_state.h"

#include <stdarg.h>
#include <stdio.h>

#include "notify_icon.h"
#include "text.h"
#include "view.h"

Tray T;

namespace {

void AddLine(bool failure, const char *format, va_list args)
{
    char line[512];
    vsnprintf(line, sizeof line, format, args);
    AddStatusLine(&T.log, line, failure);
    ShowStatus(T.window, StatusText(T.log));
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

}  // namespace

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

void OrderSettings(bool listenAgain)
{
    const ShiftSettings was = T.orders.settings;
    bool moved = was.telemetryIp != T.settings.telemetryIp || was.telemetryPort != T.settings.telemetryPort;
    T.orders.settings = Shift(T.settings, was.listen + (moved || listenAgain));
    T.orders.settingsVersion++;
    Order();
}

bool Plate()
{
    return T.settings.mapName == "standard" || T.settings.mapName == "nascar";
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
