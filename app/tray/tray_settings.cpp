// The config file read again, and the window's settings controls.
#include "tray_state.h"

#include "../../config/gate_map.h"
#include "../../config/key_names.h"
#include "../../config/scan_codes.h"
#include "../../resources/tray_resource.h"
#include "text.h"
#include "view.h"

namespace {

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

void ReloadConfig()
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

void OnConfigQuiet()
{
    KillTimer(T.window, ID_CONFIG_QUIET);
    if (ConfigQuiet(&T.watch)) {
        ReloadConfig();
    } else if (++T.quietLooks < QUIET_LOOKS) {
        SetTimer(T.window, ID_CONFIG_QUIET, CONFIG_QUIET_MS, nullptr);
    } else {
        Failure("the config file stays open in another program: it was not read again");
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
