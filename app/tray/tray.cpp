// gearvane-tray's reactions: the lever to the engine, the engine's taps to the keyboard,
// and the window's changes to the settings and the config file.
#include "tray.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "../../config/gate_map.h"
#include "elevation.h"
#include "keys.h"
#include "notify_icon.h"
#include "text.h"
#include "window.h"

TrayApp App;

namespace {

const char ElevatedGame[] =
    "the game runs as administrator: Windows blocks gearvane's keys; start gearvane-tray as administrator too";

void AddLine(bool failure, const char *format, va_list args)
{
    char line[512];
    vsnprintf(line, sizeof line, format, args);
    AddStatusLine(&App.log, line, failure);
    if (App.window)
        ShowStatus(App.window, StatusText(App.log));
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

void UpdateGears()
{
    if (!App.window)
        return;
    int32_t game = TapperLanding(&App.tapper);
    ShowGears(App.window, App.leverOpen, App.leverGear, game);
    // The tooltip goes through Explorer, which may be slow to answer: not while a key is
    // down or more taps are to come.
    static std::wstring shown;
    std::wstring tip = L"gearvane: " + (App.leverOpen ? GearText(game) : L"waiting for a lever");
    if (App.iconShown && tip != shown && !TapperBusy(&App.tapper)) {
        SetNotifyTip(App.window, tip.c_str());
        shown = tip;
    }
}

const KeyScan *KeyOf(int32_t direction)
{
    int count;
    const KeyScan *keys = KeyScans(&count);
    return &keys[direction > 0 ? App.settings.upCode : App.settings.downCode];
}

void StatusLines(const std::string &lines)
{
    for (size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
        Status("%s", lines.substr(start, end - start).c_str());
}

// Sends what the engine asks for, the keys first and the status lines after. A key-up is
// always for the key that went down, even when the keys changed since. A key that Windows
// refused is tried again a moment later: a refused key-down does not count as a tap, and
// a refused key-up is sent again until it goes out, so that no key stays down.
void Perform(TapActions a)
{
    if (a.release && App.pressed && !SendKey(*App.pressed, false))
        App.unreleased = App.pressed;
    bool refused = false;
    if (a.press) {
        App.pressed = KeyOf(a.press);
        refused = !SendKey(*App.pressed, true);
    }
    int64_t now = Now();
    TapperDone(&App.tapper, a, {a.release != 0, a.press && !refused, now, now + RETRY_US});
    if (refused) {
        if (!App.refusing)
            Failure("Windows refused a key; trying again");
    }
    App.refusing = refused || App.unreleased;
    int64_t due = TapperDue(&App.tapper);
    if (App.unreleased && (due < 0 || due > now + RETRY_US))
        due = now + RETRY_US;
    ArmTapTimer(&App.timer, due, now);
    a.news.ended = false;  // as on Linux: only --simulate says where a change ended
    char news[256];
    if (FormatNews(a.news, App.settings.upKey.c_str(), App.settings.downKey.c_str(), news, sizeof news))
        StatusLines(news);
    UpdateGears();
}

// Ending: no key stays down.
void LetGo()
{
    Perform(TapperStop(&App.tapper, Now()));
    if (App.unreleased)
        SendKey(*App.unreleased, false);
    App.unreleased = nullptr;
}

// The lever's decoded state.
void Engage(Decoded d)
{
    Perform(TapperLever(&App.tapper, Now(), CapGear(d.gear, App.settings.maxGear), d.reset));
}

// A lever with nothing held and its hat centred. (A zeroed sample has its hat forward.)
Sample Released()
{
    Sample sample = {};
    sample.hat = HAT_CENTRED;
    return sample;
}

// Decodes the lever's last state again, as after a change of the settings; not while the
// lever answers the learning's questions.
void Redecode()
{
    Decoded d = DecodeGate(App.settings.map, App.sample);
    App.leverGear = d.gear;
    if (App.leverOpen && !App.learning)
        Engage(d);
    else
        UpdateGears();
}

void StartWaiting()
{
    SetTimer(App.window, ID_SEARCH_TIMER, SEARCH_MS, nullptr);
    ShowLeverName(App.window, L"");
    ShowLearning(App.window, L"", false, false);
    UpdateGears();
}

void Unplug()
{
    KillTimer(App.window, ID_POLL_TIMER);
    Perform(TapperStop(&App.tapper, Now()));
    App.wanted.lost = true;
    App.wanted.instance = App.lever.instance;
    App.wanted.name = App.lever.name;
    CloseLever(&App.lever);
    App.leverOpen = false;
    App.sample = Released();
    App.leverGear = GEAR_NONE;
    Status("lever unplugged; waiting for it");
    if (App.learning) {
        App.learning = false;
        Status("learning stopped: the gates stay as they were");
    }
    StartWaiting();
}

void Attach()
{
    KillTimer(App.window, ID_SEARCH_TIMER);
    App.leverOpen = true;
    App.wanted.lost = false;
    Status("lever: %s", Utf8(App.lever.name).c_str());
    if (App.lever.unsignalled) {
        Status("this lever signals no changes: it is read every %d ms", POLL_MS);
        SetTimer(App.window, ID_POLL_TIMER, POLL_MS, nullptr);
    }
    ShowLeverName(App.window, App.lever.name);
    ShowLearning(App.window, L"", false, true);
    // From the gear the game is assumed to be in: a lever already in gear is shifted into.
    Sample sample;
    LeverRead read = ReadLever(&App.lever, &sample);
    if (read == LEVER_LOST) {
        Unplug();
        return;
    }
    App.sample = read == LEVER_READ ? sample : Released();
    Redecode();
}

// A window edit wins over the command line from now on, also when the file is read again.
void Forget(const char *key)
{
    auto &given = App.options.line.settings;
    for (size_t i = given.size(); i-- > 0;)
        if (given[i].key == key)
            given.erase(given.begin() + i);
}

void Save(const std::vector<std::pair<std::string, std::string>> &set)
{
    std::string error;
    if (!SaveTraySettings(&App.options, set, &error))
        Failure("settings not saved: %s", error.c_str());
}

void SetTiming()
{
    TapperSetTiming(&App.tapper, {App.settings.holdMs * 1000LL, App.settings.gapMs * 1000LL});
}

void WatchConfig()
{
    const std::wstring &path = App.options.configPath;
    size_t slash = path.find_last_of(L"\\/");
    std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    // The default folder is made now, so that a file saved there later is seen.
    if (!App.options.configGiven)
        CreateDirectoryW(folder.c_str(), nullptr);
    App.configWatch.Reset(FindFirstChangeNotificationW(
        folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE));
}

void CALLBACK ForegroundChanged(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD)
{
    OnForeground(window);
}

std::wstring Question()
{
    return L"Move the lever into " + GearText(LearnGear(App.learn)) + L", or click Skip.";
}

void FinishLearning()
{
    App.learning = false;
    const GateMap &map = App.learn.map;
    if (map.count == 0) {
        ShowLearning(App.window, L"No gear learned: the gates stay as they were.", false, App.leverOpen);
        App.learnNote = true;
        return;
    }
    char text[200];
    FormatGateMap(map, text, sizeof text);
    std::string name = Utf8(App.lever.name);
    App.settings.map = map;
    App.settings.mapName = App.gateMap = text;
    App.settings.device = name;
    for (const char *key : {"gate", "plate", "device"})
        Forget(key);
    Save(LearnedSettings(name, map));
    Status("gates learned from %s: %s", name.c_str(), text);
    ShowSettings(App.window, App.settings);
    ShowLearning(App.window, L"Learned. The lever shifts again from its next move.", false, true);
    App.learnNote = true;
    App.leverGear = DecodeGate(map, App.sample).gear;
    UpdateGears();
}

void NextQuestion(const std::wstring &before)
{
    if (LearnDone(App.learn))
        FinishLearning();
    else
        ShowLearning(App.window, before + Question(), true, true);
}

void LearnFrom(const Sample &sample)
{
    int32_t taken;
    LearnAnswer answer = LearnSample(&App.learn, sample, &taken);
    if (answer == LEARN_ANSWERED)
        NextQuestion(L"");
    else if (answer == LEARN_TAKEN)
        NextQuestion(L"That is " + GearText(taken) + L" already. ");
}

}  // namespace

void StartTray(const std::string &ignored)
{
    App.iconShown = AddNotifyIcon(App.window, App.icon, L"gearvane");
    StatusLines(ignored);
    if (!SelfElevated())
        App.foregroundHook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
                                             ForegroundChanged, 0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    if (!App.options.configPath.empty())
        WatchConfig();
    if (App.settings.mapName != "standard" && App.settings.mapName != "nascar")
        App.gateMap = App.settings.mapName;
    TapperStart(&App.tapper, {App.settings.holdMs * 1000LL, App.settings.gapMs * 1000LL});
    App.sample = Released();
    App.wanted.part = Wide(App.settings.device);
    ShowSettings(App.window, App.settings);
    ShowStartWithWindows(App.window, StartsWithWindows());
    if (OpenLever(App.input, App.wanted, App.window, &App.lever)) {
        Attach();
    } else {
        Status("waiting for a lever");
        StartWaiting();
    }
    if (App.foregroundHook)
        OnForeground(GetForegroundWindow());
}

void QuitTray(int code)
{
    if (!App.window)
        return;
    LetGo();
    ArmTapTimer(&App.timer, -1, 0);
    if (App.iconShown)
        RemoveNotifyIcon(App.window);
    if (App.foregroundHook)
        UnhookWinEvent(App.foregroundHook);
    CloseLever(&App.lever);
    DestroyWindow(App.window);
    App.window = nullptr;
    PostQuitMessage(code);
}

void EndSession()
{
    LetGo();
    if (App.iconShown)
        RemoveNotifyIcon(App.window);
    ExitProcess(0);
}

void OnLeverEvent()
{
    if (!App.leverOpen)
        return;
    Sample sample;
    LeverRead read = ReadLever(&App.lever, &sample);
    if (read == LEVER_LOST)
        Unplug();
    if (read != LEVER_READ)
        return;
    App.sample = sample;
    if (App.learning) {
        LearnFrom(sample);
        App.leverGear = DecodeGate(App.settings.map, sample).gear;
        UpdateGears();
        return;
    }
    if (App.learnNote) {
        App.learnNote = false;
        ShowLearning(App.window, L"", false, true);
    }
    Decoded d = DecodeGate(App.settings.map, sample);
    App.leverGear = d.gear;
    Engage(d);
}

void OnTapTimer()
{
    if (App.unreleased && SendKey(*App.unreleased, false))
        App.unreleased = nullptr;
    Perform(TapperTimer(&App.tapper, Now()));
}

void ServeInModalLoop()
{
    if (App.leverOpen && WaitForSingleObject(App.lever.event.h, 0) == WAIT_OBJECT_0)
        OnLeverEvent();
    if (WaitForSingleObject(App.timer.timer.h, 0) == WAIT_OBJECT_0)
        OnTapTimer();
}

void OnDeviceChange()
{
    if (App.leverOpen) {
        if (!LeverAttached(App.input, App.lever))
            Unplug();
    } else if (OpenLever(App.input, App.wanted, App.window, &App.lever)) {
        Attach();
    }
}

void OnConfigChanged()
{
    FindNextChangeNotification(App.configWatch.h);
    Settings fresh;
    std::string error, ignored;
    int reloaded = ReloadTraySettings(&App.options, &fresh, &error, &ignored);
    if (reloaded < 0)
        Failure("settings not reloaded: %s", error.c_str());
    if (reloaded <= 0)
        return;
    // The lever stays the one it was started with.
    fresh.device = App.settings.device;
    App.settings = fresh;
    App.log.quiet = fresh.quiet;
    if (fresh.mapName != "standard" && fresh.mapName != "nascar")
        App.gateMap = fresh.mapName;
    SetTiming();
    Status("settings reloaded");
    StatusLines(ignored);
    ShowSettings(App.window, App.settings);
    Redecode();
}

void OnForeground(HWND window)
{
    if (!window || !WindowElevated(window))
        return;
    for (HWND w : App.warned)
        if (w == window)
            return;
    App.warned[App.warnedNext] = window;
    App.warnedNext = (App.warnedNext + 1) % WARNED_WINDOWS;
    Failure("%s", ElevatedGame);
}

void ChooseMaxGear(int maxGear)
{
    App.settings.maxGear = maxGear;
    Forget("max-gear");
    Save({{"max-gear", std::to_string(maxGear)}});
    Redecode();
}

void ChooseHold(int ms)
{
    App.settings.holdMs = ms;
    SetTiming();
    Forget("hold-ms");
    Save({{"hold-ms", std::to_string(ms)}});
}

void ChooseGap(int ms)
{
    App.settings.gapMs = ms;
    SetTiming();
    Forget("gap-ms");
    Save({{"gap-ms", std::to_string(ms)}});
}

void ChooseKey(bool up, const KeyScan *key)
{
    std::string &name = up ? App.settings.upKey : App.settings.downKey;
    const std::string &other = up ? App.settings.downKey : App.settings.upKey;
    if (other == key->name) {
        Failure("the up key and the down key must be two different keys");
        ShowSettings(App.window, App.settings);
        return;
    }
    name = key->name;
    (up ? App.settings.upCode : App.settings.downCode) = TrayKeyCode(name);
    const char *setting = up ? "up-key" : "down-key";
    Forget(setting);
    Save({{setting, name}});
}

void ChoosePlate(int plate)
{
    Settings &s = App.settings;
    if (plate == 2) {
        char error[200];
        if (App.gateMap.empty() || !ParseGateMap(App.gateMap.c_str(), &s.map, error, sizeof error)) {
            ShowSettings(App.window, s);
            ShowLearning(App.window, L"There is no gate map yet: Learn gates makes one.", false, App.leverOpen);
            App.learnNote = true;
            return;
        }
        s.mapName = App.gateMap;
        Save({{"gate", s.mapName}});
    } else {
        s.map = plate ? NascarPlate : StandardPlate;
        s.mapName = plate ? "nascar" : "standard";
        Save({{"plate", s.mapName}});
    }
    Forget("plate");
    Forget("gate");
    ShowSettings(App.window, s);
    Redecode();
}

void ChooseStartWithWindows(bool on)
{
    std::string error;
    if (!SetStartWithWindows(on, App.options, &error)) {
        Failure("%s", error.c_str());
        ShowStartWithWindows(App.window, !on);
    }
}

void ClickLearn()
{
    if (App.learning) {
        App.learning = false;
        ShowLearning(App.window, L"Learning cancelled: the gates stay as they were.", false, App.leverOpen);
        App.learnNote = true;
        return;
    }
    if (!App.leverOpen)
        return;
    // No taps while the lever answers questions.
    Perform(TapperStop(&App.tapper, Now()));
    LearnStart(&App.learn, App.sample);
    App.learning = true;
    ShowLearning(App.window, Question(), true, true);
}

void ClickSkip()
{
    if (!App.learning)
        return;
    LearnSkip(&App.learn);
    NextQuestion(L"");
}
