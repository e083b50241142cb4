// What the window makes of the input thread's reports.
#include "tray_state.h"

#include <string.h>

#include "../../config/key_names.h"
#include "../../config/scan_codes.h"
#include "notify_icon.h"
#include "text.h"
#include "view.h"

namespace {

std::string Address(uint32_t ip)
{
    return std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 255) + "." + std::to_string(ip >> 8 & 255) +
           "." + std::to_string(ip & 255);
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
