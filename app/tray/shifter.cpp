// The input thread.
#include "shifter.h"

#include <string.h>

#include <memory>
#include <string>

#include "keys.h"
#include "lever.h"
#include "tap_timer.h"
#include "telemetry_socket.h"
#include "vjoy.h"

namespace {

// The input thread's own state: nothing here is touched by another thread.
struct Shifter {
    Mailbox *box = nullptr;
    HANDLE quit = nullptr;
    DirectInput input;
    TapTimer timer;
    Handle pollTimer;
    bool polling = false;
    Lever lever;
    bool open = false;
    bool signals = false;  // DirectInput was seen to signal the lever by itself
    unsigned generation = 0;  // of the lever open, or last ordered
    Orders orders = {};
    Sample sample = {};
    int32_t leverGear = GEAR_NONE;
    Tapper tapper = {};
    KeyOutput keys;
    std::unique_ptr<VJoyShifter> vjoy;
    ShiftOutput *out = &keys;
    int outputSet = -2;  // the output last set up: -1 the keys, else the vJoy device asked for (0: any)
    TelemetrySocket telemetry;
    unsigned listened = 0;  // the settings' `listen` last tried
    bool refusing = false;  // a refusal has been reported and not yet got over
    bool said = false;      // the user said the game's gear: the engine waits for the lever to move
    int32_t shownGame = GEAR_NONE;
    bool shownBusy = false, shownReporting = false;
};

bool Driving(const Shifter *s)
{
    return s->open && !s->orders.learning && !s->orders.paused;
}

// A report of `kind` with the thread's state as it is now.
Report Snapshot(Shifter *s, ReportKind kind, const TapNews &news = {})
{
    Report r = {};
    r.kind = kind;
    r.generation = s->generation;
    r.sample = s->sample;
    r.leverGear = s->open ? s->leverGear : GEAR_NONE;
    r.gameGear = s->shownGame = TapperLanding(&s->tapper);
    r.reporting = s->shownReporting = TapperReporting(&s->tapper);
    r.busy = s->shownBusy = TapperBusy(&s->tapper);
    r.news = news;
    r.upCode = s->orders.settings.upCode;
    r.downCode = s->orders.settings.downCode;
    r.buttons = s->out != &s->keys;
    r.format = s->telemetry.Format();
    return r;
}

void Tell(Shifter *s, ReportKind kind, const TapNews &news = {}, unsigned long error = 0)
{
    Report r = Snapshot(s, kind, news);
    r.error = error;
    PostReport(s->box, r);
}

// The output the orders ask for, once no key of the one in use is down: the vJoy shifter if
// it can be had, else the keys. Each new choice is tried once, and reported.
void SetOutput(Shifter *s)
{
    const ShiftSettings &set = s->orders.settings;
    int wanted = set.vjoy ? set.vjoyDevice : -1;
    if (wanted == s->outputSet || s->out->Holding())
        return;
    s->outputSet = wanted;
    s->out = &s->keys;
    s->vjoy.reset();
    Report r = Snapshot(s, REPORT_OUTPUT);
    r.vjoy = {VJOY_OFF, 0, 0, 0};
    if (set.vjoy && (s->vjoy = VJoyShifter::Open(set.vjoyDevice, &r.vjoy)))
        s->out = s->vjoy.get();
    r.buttons = s->out != &s->keys;
    PostReport(s->box, r);
}

// The vJoy device stopped taking its buttons: the keys take over, and a button that is down
// there is none of gearvane's business any more.
void DropVJoy(Shifter *s, const VJoyNews &news)
{
    s->vjoy.reset();
    s->out = &s->keys;
    Report r = Snapshot(s, REPORT_OUTPUT);
    r.vjoy = news;
    PostReport(s->box, r);
}

// Listens where the orders say, if that is new.
void Listen(Shifter *s)
{
    const ShiftSettings &set = s->orders.settings;
    if (set.listen == s->listened)
        return;
    s->listened = set.listen;
    s->telemetry.Close();
    int error = set.telemetryPort ? s->telemetry.Open(set.telemetryIp, set.telemetryPort) : 0;
    Report r = Snapshot(s, error ? REPORT_DEAF : REPORT_LISTENING);
    r.error = static_cast<unsigned long>(error);
    r.telemetryIp = set.telemetryIp;
    r.telemetryPort = set.telemetryPort;
    PostReport(s->box, r);
}

// Sends what the engine asks for and sets the timer for what comes next. A key that Windows
// refused is tried again a moment later: a refused key-down does not count as a tap, and a
// refused key-up is sent again until it goes out, so that no key stays down. A vJoy device
// that is gone hands over to the keys, which send the key-down it refused. Returns the news
// for the status lines.
TapNews Perform(Shifter *s, TapActions a)
{
    int64_t now = Now();
    bool keys = s->out == &s->keys;
    TapSent sent = s->out->Send(a, now);
    TapperDone(&s->tapper, a, sent);
    VJoyNews lost;
    if (s->vjoy && s->vjoy->Lost(&lost))
        DropVJoy(s, lost);
    bool refused = a.press && !sent.pressed;
    if (refused && !s->refusing && keys)
        Tell(s, REPORT_REFUSED);
    s->refusing = refused || s->out->Unreleased();
    SetOutput(s);
    int64_t due = TapperDue(&s->tapper);
    if (s->out->Unreleased() && (due < 0 || due > now + RETRY_US))
        due = now + RETRY_US;
    ArmTapTimer(&s->timer, due, now);
    a.news.ended = false;  // as on Linux: only --simulate says where a change ended
    return a.news;
}

// Reports the taps' news, or a change of the game's gear that the window shows.
void TellGears(Shifter *s, const TapNews &n)
{
    bool news = n.reset || n.set || n.change || n.ended || n.stopped || n.shifted || n.lost || n.heard;
    if (news || TapperLanding(&s->tapper) != s->shownGame || TapperBusy(&s->tapper) != s->shownBusy ||
        TapperReporting(&s->tapper) != s->shownReporting)
        Tell(s, REPORT_GEARS, n);
}

void Stop(Shifter *s)
{
    TellGears(s, Perform(s, TapperStop(&s->tapper, Now())));
}

// Feeds the engine the lever's state: on its first read, and after that only when it
// changed, so that a read that finds the lever as it was sends nothing.
void Use(Shifter *s, const Sample &sample, bool first)
{
    if (!first && memcmp(&sample, &s->sample, sizeof sample) == 0)
        return;
    s->sample = sample;
    s->said = false;
    Decoded d = DecodeGate(s->orders.settings.map, sample);
    s->leverGear = d.gear;
    TapNews news = {};
    if (Driving(s))
        news = Perform(s, TapperLever(&s->tapper, Now(), CapGear(d.gear, s->orders.settings.maxGear), d.reset));
    Tell(s, REPORT_SAMPLE, news);
}

void SetPolling(Shifter *s)
{
    bool poll = s->open && (s->lever.unsignalled || (s->lever.polled && !s->signals));
    if (poll == s->polling)
        return;
    s->polling = poll;
    if (poll) {
        LARGE_INTEGER first;
        first.QuadPart = -POLL_MS * 10000LL;
        SetWaitableTimer(s->pollTimer.h, &first, POLL_MS, nullptr, nullptr, FALSE);
    } else {
        CancelWaitableTimer(s->pollTimer.h);
    }
}

void Close(Shifter *s)
{
    CloseLever(&s->lever);
    s->open = false;
    s->signals = false;
    SetPolling(s);
    s->sample = Released();
    s->leverGear = GEAR_NONE;
}

void Lost(Shifter *s)
{
    Stop(s);
    Close(s);
    Tell(s, REPORT_LOST);
}

void Read(Shifter *s, bool first, bool poll = true)
{
    Sample sample;
    LeverRead read = ReadLever(&s->lever, &sample, poll);
    if (read == LEVER_LOST)
        Lost(s);
    else if (read == LEVER_READ)
        Use(s, sample, first);
    else if (first)
        Use(s, Released(), true);
}

// The lever ordered, from the gear the game is assumed to be in: a lever already in gear is
// shifted into.
void Open(Shifter *s)
{
    if (s->open) {
        Stop(s);
        Close(s);
    }
    if (!s->orders.generation)
        return;
    if (!OpenLever(s->input, s->orders.lever, s->box->window, true, &s->lever)) {
        Tell(s, REPORT_FAILED);
        return;
    }
    s->open = true;
    SetPolling(s);
    Tell(s, REPORT_OPENED);
    if (s->lever.unsignalled)
        Tell(s, REPORT_POLLED);
    Read(s, true);
}

void Obey(Shifter *s)
{
    Orders was = s->orders;
    bool wasDriving = Driving(s);
    s->orders = TakeOrders(s->box);
    bool newSettings = s->orders.settingsVersion != was.settingsVersion;
    if (newSettings) {
        s->keys.SetKeys(s->orders.settings.upCode, s->orders.settings.downCode);
        TapperSetTiming(&s->tapper, s->orders.settings.timing);
        SetOutput(s);
        Listen(s);
    }
    if (wasDriving && !Driving(s))
        Stop(s);
    if (s->orders.gameGearSaid != was.gameGearSaid) {
        // Said in gearvane's window or its menu, where the keys would go now: the game is
        // taken to be there, and is shifted from there at the lever's next move.
        bool reset = DecodeGate(s->orders.settings.map, s->sample).reset;
        TellGears(s, Perform(s, TapperLever(&s->tapper, Now(), GEAR_NONE, reset)));
        s->said = true;
        TellGears(s, Perform(s, TapperSetGear(&s->tapper, Now(), s->orders.gameGear)));
    }
    if (s->orders.generation != was.generation) {
        s->generation = s->orders.generation;
        Open(s);
    } else if (newSettings && s->open) {
        // The lever's state again with the new settings; it shifts only if it was shifting.
        Decoded d = DecodeGate(s->orders.settings.map, s->sample);
        s->leverGear = d.gear;
        TapNews news = {};
        int32_t gear = s->said ? GEAR_NONE : CapGear(d.gear, s->orders.settings.maxGear);
        if (wasDriving && Driving(s))
            news = Perform(s, TapperLever(&s->tapper, Now(), gear, d.reset));
        Tell(s, REPORT_SAMPLE, news);
    }
}

void OnTapTimer(Shifter *s)
{
    s->out->SendHeldBack();
    TellGears(s, Perform(s, TapperTimer(&s->tapper, Now())));
}

// Packets came, or drops are due in a status line: the newest gear goes to the engine with
// the time it was read.
void OnTelemetry(Shifter *s, bool timer)
{
    TelemetryNews news;
    int64_t now = Now();
    if (timer)
        s->telemetry.OnTimer(now, &news);
    else
        s->telemetry.Drain(now, &news);
    TapNews taps = news.hasGear ? Perform(s, TapperReading(&s->tapper, now, news.gear)) : TapNews{};
    if (!news.formats && !news.foreign && !news.drops.count) {
        TellGears(s, taps);
        return;
    }
    Report r = Snapshot(s, REPORT_TELEMETRY, taps);
    r.telemetry = news;
    PostReport(s->box, r);
}

// DirectInput signalled the lever. One that says it must be polled is read as it is, without
// a poll: if that finds it moved, DirectInput follows it by itself and the timer can go.
void OnLeverEvent(Shifter *s)
{
    if (!s->lever.polled || s->signals) {
        Read(s, false);
        return;
    }
    Sample before = s->sample;
    Read(s, false, false);
    if (s->open && memcmp(&before, &s->sample, sizeof before) != 0) {
        s->signals = true;
        SetPolling(s);
    }
}

void OnPollTimer(Shifter *s)
{
    if (WaitForSingleObject(s->lever.event.h, 0) == WAIT_OBJECT_0) {
        OnLeverEvent(s);
        return;
    }
    Read(s, false);
    // A signal that the poll gave is the poll's, not DirectInput's own.
    if (s->open)
        WaitForSingleObject(s->lever.event.h, 0);
}

// Ending: no key stays down.
void LetGo(Shifter *s)
{
    Stop(s);
    s->out->SendHeldBack();
    ArmTapTimer(&s->timer, -1, 0);
    Close(s);
    s->out = &s->keys;
    s->vjoy.reset();  // relinquishes the device
}

DWORD WINAPI Run(void *parameter)
{
    Shifter *s = static_cast<Shifter *>(parameter);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    s->orders = TakeOrders(s->box);
    s->keys.SetKeys(s->orders.settings.upCode, s->orders.settings.downCode);
    TapperStart(&s->tapper, s->orders.settings.timing);
    s->sample = Released();
    s->generation = s->orders.generation;
    SetOutput(s);
    Listen(s);
    Open(s);
    for (;;) {
        enum { NONE = MAXDWORD };
        HANDLE handles[7];
        DWORD count = 0, lever = NONE, poll = NONE, telemetry = NONE;
        handles[count++] = s->quit;
        handles[count++] = s->timer.timer.h;
        if (s->open) {
            lever = count;
            handles[count++] = s->lever.event.h;
        }
        if (s->polling) {
            poll = count;
            handles[count++] = s->pollTimer.h;
        }
        DWORD orders = count;
        handles[count++] = s->box->ordered.h;
        // After the lever and the orders: a flood of packets never keeps them waiting.
        if (s->telemetry.IsOpen()) {
            telemetry = count;
            handles[count++] = s->telemetry.Event();
            handles[count++] = s->telemetry.Timer();
        }
        DWORD woke = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (woke == WAIT_FAILED) {
            DWORD error = GetLastError();
            LetGo(s);
            Tell(s, REPORT_STOPPED, {}, error);
            break;
        }
        DWORD which = woke - WAIT_OBJECT_0;
        if (which == 0) {
            LetGo(s);
            break;
        }
        if (which == 1)
            OnTapTimer(s);
        else if (which == lever)
            OnLeverEvent(s);
        else if (which == poll)
            OnPollTimer(s);
        else if (which == orders)
            Obey(s);
        else if (telemetry != NONE && which >= telemetry)
            OnTelemetry(s, which > telemetry);
    }
    delete s;
    return 0;
}

}  // namespace

bool StartShifter(HINSTANCE instance, Mailbox *box, ShifterThread *shifter, std::wstring *error)
{
    Shifter *s = new Shifter;
    s->box = box;
    if (!CreateDirectInput(instance, &s->input, error)) {
        delete s;
        return false;
    }
    s->pollTimer.Reset(CreateWaitableTimerW(nullptr, FALSE, nullptr));
    shifter->quit.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!CreateTapTimer(&s->timer) || !s->pollTimer.h || !shifter->quit.h) {
        *error = L"gearvane-tray cannot make a timer (error " + std::to_wstring(GetLastError()) + L")";
        delete s;
        return false;
    }
    s->quit = shifter->quit.h;
    shifter->thread.Reset(CreateThread(nullptr, 0, Run, s, 0, nullptr));
    if (!shifter->thread.h) {
        *error = L"gearvane-tray cannot start its input thread (error " + std::to_wstring(GetLastError()) + L")";
        delete s;
        return false;
    }
    return true;
}

void StopShifter(ShifterThread *shifter)
{
    if (!shifter->thread.h)
        return;
    SetEvent(shifter->quit.h);
    WaitForSingleObject(shifter->thread.h, 5000);
    shifter->thread.Reset();
}
