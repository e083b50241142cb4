// The loop and its handlers: it holds the pieces (the lever finder or the --simulate input,
// the key output, the tap scheduler and its timer, the signals, the game's telemetry, the
// clients of the control socket, gate learning) and hands each event to the one it is for.
// No piece knows of the loop or of another piece.
#include "daemon.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "../../core/tapper.h"
#include "control_protocol.h"
#include "finder.h"
#include "gate_learning.h"
#include "key_printer.h"
#include "keyboard.h"
#include "lever_search.h"
#include "poller.h"
#include "process.h"
#include "publisher.h"
#include "reload.h"
#include "say.h"
#include "shifter.h"
#include "simulate_input.h"
#include "telemetry_socket.h"

namespace {

struct Daemon {
    Daemon(const std::vector<std::string> &args, const Settings &settings)
        : args(args), settings(settings), configPath(ConfigPath(args)), fixed(CommandLineKeys(args)),
          telemetry(&poller), clients(&poller, settings.mode == MODE_SIMULATE, configPath)
    {
    }

    std::vector<std::string> args;  // the command line, read again on a reload
    Settings settings;
    std::string configPath;          // the file that `set` and learning write, "" for none
    std::vector<std::string> fixed;  // the settings the command line gives
    Poller poller;
    Signals signals;
    Timer tapTimer;
    Tapper tapper;
    std::unique_ptr<KeyOutput> keys;
    std::optional<LeverFinder> finder;   // the lever, unless --simulate
    unsigned finders = 0;                // how many were made: a new one closes the lever
    std::optional<SimulateInput> input;  // --simulate
    TelemetryListener telemetry;         // the game's own reports of its gear
    Publisher clients;                   // of the control socket
    GateLearning learning;               // for a client
    std::string leverWhy;  // why the lever looked for cannot be had, when that is known
    bool pollInput = true;       // false: standard input is read once a turn
    bool controlLater = false;   // the socket waits for the lever, which another gearvane drives
    int status = -1;             // the exit status, once it is decided
};

// Every status line goes out here, one line at a time: on standard error unless quiet, and
// to the control socket's clients always.
void Status(Daemon &d, const char *format, ...) __attribute__((format(printf, 2, 3)));
void Status(Daemon &d, const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (!d.settings.quiet)
        PrintLine(line);
    d.clients.Say(line);
}

// Status lines, each ending in a newline.
void StatusLines(Daemon &d, char *text)
{
    for (char *line = text, *end; (end = strchr(line, '\n')); line = end + 1) {
        *end = '\0';
        Status(d, "%s", line);
    }
}

// Says why, and ends the loop with exit status 1.
void EndWithError(Daemon &d, const std::string &why)
{
    PrintError("%s", why.c_str());
    d.status = 1;
}

// Adds `fd` to the loop; ends it when epoll refuses.
bool Watch(Daemon &d, int fd, Source source)
{
    if (d.poller.Watch(fd, source))
        return true;
    EndWithError(d, std::string("epoll_ctl: ") + strerror(errno));
    return false;
}

bool IsFixed(const Daemon &d, const char *key)
{
    return std::find(d.fixed.begin(), d.fixed.end(), key) != d.fixed.end();
}

bool HasLever(const Daemon &d)
{
    return d.input || (d.finder && d.finder->Attached());
}

// The node of the lever driven, or "".
std::string LeverNode(const Daemon &d)
{
    return d.finder && d.finder->Attached() ? d.finder->lever.path : "";
}

// The buttons and hat held on the lever, which HasLever says there is.
Sample LeverSample(const Daemon &d)
{
    return d.input ? d.input->Held() : ReadSample(d.finder->lever);
}

// The lever as clients see it.
LeverState LeverNow(const Daemon &d)
{
    LeverState l;
    if (d.input) {
        l.attached = true;
        l.node = "simulate";
        l.name = "gearvane simulated lever";
        l.sample = d.input->Held();
        l.hasHat = true;
        l.decoded = d.input->Position(d.settings.map);
    } else if (d.finder && d.finder->Attached()) {
        l.attached = true;
        l.node = d.finder->lever.path;
        l.name = d.finder->lever.name;
        l.sample = ReadSample(d.finder->lever);
        l.hasHat = d.finder->lever.hasHat;
        l.decoded = DecodeGate(d.settings.map, l.sample);
    } else {
        l.waiting = d.settings.device;
        l.why = d.leverWhy;
    }
    return l;
}

void ShowLever(Daemon &d)
{
    if (d.clients.HasClients())
        d.clients.ShowLever(LeverNow(d));
}

void ShowLearning(Daemon &d)
{
    d.clients.ShowLearning(d.learning.View());
}

// Sends the keys the scheduler asks for, tells it what went out, and reports the news.
void SendKeys(Daemon &d, TapActions a, int64_t now)
{
    TapSent sent = d.keys->Send(a, now);
    if (!d.keys->Error().empty()) {
        EndWithError(d, d.keys->Error());
        return;
    }
    TapperDone(&d.tapper, a, sent);
    d.tapTimer.ArmAt(TapperDue(&d.tapper));
    const ShiftKeys &keys = d.keys->Keys();
    d.clients.ShowTaps(&d.tapper, a, sent.pressed, a.press > 0 ? keys.upName : keys.downName);
    // Where a change ended is for trying things out; the daemon's log keeps to what it sends.
    if (!d.input)
        a.news.ended = false;
    char news[256];
    FormatNews(a.news, keys.upName.c_str(), keys.downName.c_str(), news, sizeof news);
    StatusLines(d, news);
}

void FinishLearning(Daemon &d, int64_t now);

// The lever moved (or is to be decoded again): while gates are learned its input answers
// the question asked, else its gear, capped, is handed to the scheduler.
void ReadLever(Daemon &d, int64_t now)
{
    Sample sample = LeverSample(d);
    if (!d.learning.Active()) {
        Decoded position = d.input ? d.input->Position(d.settings.map) : DecodeGate(d.settings.map, sample);
        SendKeys(d, TapperLever(&d.tapper, now, CapGear(position.gear, d.settings.maxGear), position.reset), now);
    } else if (d.learning.OnSample(sample)) {
        FinishLearning(d, now);
    } else {
        ShowLearning(d);
    }
    ShowLever(d);
}

// The lever's position decoded again at once, as a click in the Windows dialog does.
void Redecode(Daemon &d, int64_t now)
{
    if (HasLever(d))
        ReadLever(d, now);
}

void EndLearning(Daemon &d, const char *how, int64_t now)
{
    d.learning.End(how);
    ShowLearning(d);
    Redecode(d, now);
}

// Takes the control socket; that there is none is said, and no reason to end.
void OpenControl(Daemon &d)
{
    d.controlLater = false;
    std::string why = d.clients.Open();
    if (!why.empty())
        Status(d, "%s", why.c_str());
}

// What the finder made of its last look: a lever to read from now on, or a failure.
void OnFinderOutcome(Daemon &d, LeverFinder::Outcome outcome, int64_t now)
{
    if (outcome == LeverFinder::FAILED)
        EndWithError(d, d.finder->error);
    if (outcome == LeverFinder::DRIVEN) {
        d.leverWhy = d.finder->error;
        // The gearvane that drives the lever has the socket too, until it lets the lever go.
        d.controlLater = !d.clients.Listening();
        Status(d, "%s; waiting until it is free", d.leverWhy.c_str());
        ShowLever(d);
    }
    if (outcome != LeverFinder::FOUND || !Watch(d, d.finder->lever.fd.Get(), SRC_LEVER))
        return;
    d.leverWhy.clear();
    Status(d, "lever: %s (%s)", d.finder->lever.path.c_str(), d.finder->lever.name.c_str());
    if (d.controlLater)
        OpenControl(d);
    ReadLever(d, now);
    d.clients.ShowDevices(LeverNode(d));
}

void OnUnplug(Daemon &d, int64_t now)
{
    SendKeys(d, TapperStop(&d.tapper, now), now);
    Status(d, "lever unplugged; waiting for it");
    if (d.learning.Active())
        EndLearning(d, "lever lost", now);
    OnFinderOutcome(d, d.finder->OnLost(), now);
    ShowLever(d);
    d.clients.ShowDevices(LeverNode(d));
}

void OnLever(Daemon &d, uint32_t events, int64_t now)
{
    // Learning that ends on the lever may choose the lever anew: the one read here is then
    // closed, and its events with it.
    const unsigned finder = d.finders;
    bool dropped = false;
    LeverRead read;
    while ((read = ReadLeverReport(d.finder->lever, &dropped)) == LEVER_MOVED) {
        ReadLever(d, now);
        if (d.finders != finder)
            return;
    }
    if (read == LEVER_GONE) {
        OnUnplug(d, now);
        return;
    }
    if (dropped) {
        Status(d, "lever events dropped; state read again");
        ReadLever(d, now);
        if (d.finders != finder)
            return;
    }
    if (events & (EPOLLHUP | EPOLLERR))
        OnUnplug(d, now);
}

void OnInput(Daemon &d, int64_t now)
{
    // A few lines a turn, so that a flood of input holds no key-up back: the rest waits
    // in the buffer for the next turn.
    enum { LINES_A_TURN = 32 };
    if (!d.input->Buffered())
        d.input->Read();
    for (int lines = 0; lines < LINES_A_TURN && d.status < 0 && d.input->Next(); lines++)
        ReadLever(d, now);
    if (d.input->Failed() && d.status < 0)
        d.status = 1;
    // An ended pipe stays readable for ever.
    if (d.input->Done() && d.pollInput)
        d.poller.Unwatch(STDIN_FILENO);
}

// Says what the game's telemetry brought, and hands its newest gear to the scheduler with
// the time it was read.
void OnTelemetry(Daemon &d, TelemetryNews *news, int64_t now)
{
    StatusLines(d, news->lines);
    if (news->hasGear)
        SendKeys(d, TapperReading(&d.tapper, now, news->gear), now);
}

// Puts settings read again in force; which lever, and grabbing it, are for the caller.
// Telemetry moves to where they say; where the port cannot be had it is off, and the error
// says why.
void ApplySettings(Daemon &d, Settings fresh, int64_t now)
{
    TelemetryNews news;
    std::string error;
    bool listening = d.telemetry.ListenAt(fresh.telemetryIp, fresh.telemetryPort, now, &news, &error);
    StatusLines(d, news.lines);
    if (!listening) {
        PrintError("%s; telemetry is off", error.c_str());
        fresh.telemetryPort = 0;
    }
    d.settings = fresh;
    TapperSetTiming(&d.tapper, TimingOf(fresh));
    // Before the engine is asked again: a new keyboard must be in place, and settled, before
    // a key-down with a new key can go out.
    d.keys->SetKeys(KeysOf(fresh), now);
}

void OnReload(Daemon &d, int64_t now)
{
    Settings fresh;
    std::string error;
    if (!ReadSettingsAgain(d.args, d.settings, &fresh, &error)) {
        PrintError("settings not reloaded: %s", error.c_str());
        return;
    }
    ApplySettings(d, fresh, now);
    Status(d, "settings reloaded");
    d.clients.ShowSettings(d.settings, d.fixed);
    Redecode(d, now);
}

// Why the lever cannot be had when nodes that may be it cannot be read; "" when none.
std::string Unreadable(const LeverFinder &finder)
{
    std::string nodes;
    for (const std::string &node : finder.unreadable)
        nodes += (nodes.empty() ? "" : ", ") + node;
    return nodes.empty() ? "" : "cannot read " + nodes + ": " + ReadAdvice;
}

// A finder of the lever that the settings name, in the loop; false, with the loop ended,
// when it cannot be made.
bool OpenFinder(Daemon &d, bool waitWhileDriven)
{
    d.finder.emplace(d.settings.device, d.settings.grab, waitWhileDriven);
    d.finders++;
    std::string error;
    if (!d.finder->Open(&error)) {
        EndWithError(d, error);
        return false;
    }
    return Watch(d, d.finder->HotplugFd(), SRC_HOTPLUG) && Watch(d, d.finder->RetryFd(), SRC_RETRY);
}

// Lets go of the lever in use (a key that is down goes up) and looks for the one that the
// settings now name. That it cannot be had is no reason to end: it is waited for, even
// while another gearvane drives it.
void RetakeLever(Daemon &d, int64_t now)
{
    if (d.input)
        return;
    SendKeys(d, TapperStop(&d.tapper, now), now);
    if (d.learning.Active())
        EndLearning(d, "lever lost", now);
    if (!OpenFinder(d, true))
        return;
    LeverFinder::Outcome outcome = d.finder->Start();
    d.leverWhy.clear();
    if (outcome == LeverFinder::FAILED) {
        d.leverWhy = d.finder->error;
        Status(d, "waiting for a lever: %s", d.leverWhy.c_str());
    } else if (outcome == LeverFinder::NO_CHANGE) {
        d.leverWhy = Unreadable(*d.finder);
        Status(d, "waiting for a lever%s%s", d.leverWhy.empty() ? "" : "; ", d.leverWhy.c_str());
    }
    OnFinderOutcome(d, outcome == LeverFinder::FAILED ? LeverFinder::NO_CHANGE : outcome, now);
    ShowLever(d);
    d.clients.ShowDevices(LeverNode(d));
}

// Saves `set` in the config file and puts it in force as a reload does, the lever looked for
// again when `choosesLever`. `said` is the status line, or empty for one that names what
// changed. False, with the reason in *error, when nothing was saved or applied.
bool SetSettings(Daemon &d, const std::vector<std::pair<std::string, std::string>> &set, bool choosesLever,
                 const std::string &said, int64_t now, std::string *error)
{
    Settings fresh;
    bool changed;
    if (!SaveSettings(d.args, d.configPath, set, d.settings, &fresh, &changed, error))
        return false;
    if (!changed)
        return true;
    ApplySettings(d, fresh, now);
    d.clients.ShowSettings(d.settings, d.fixed);
    std::string names;
    for (const auto &kv : set)
        names += kv.first + " = " + kv.second + ", ";
    if (said.empty())
        Status(d, "%ssaved to %s", names.c_str(), d.configPath.c_str());
    else
        Status(d, "%s", said.c_str());
    if (choosesLever)
        RetakeLever(d, now);
    else
        Redecode(d, now);
    return true;
}

// Learning is over: the gears answered, with the reset, are saved and put in force.
void FinishLearning(Daemon &d, int64_t now)
{
    if (d.learning.Map().count == 0) {
        EndLearning(d, "nothing learned", now);
        return;
    }
    std::string name = d.input ? "gearvane simulated lever" : LeverIdentifier(d.finder->lever, d.settings.device);
    // A lever that the command line names stays as it is; the map is saved all the same.
    bool keepDevice = IsFixed(d, "device");
    auto learned = d.learning.Learned(name, keepDevice);
    // Ended first, so that the lever is decoded by the new map and not taken as an answer.
    d.learning.End("saved");
    std::string error;
    if (!SetSettings(d, learned, !keepDevice, "gates learned from " + name + ": " + learned.back().second, now,
                     &error)) {
        Status(d, "gates not saved: %s", error.c_str());
        d.learning.End("not saved");
    }
    ShowLearning(d);
    Redecode(d, now);
}

// Carries out a client's command; why it cannot goes in *error.
void CarryOut(Daemon &d, int slot, const Command &c, int64_t now, std::string *error)
{
    switch (c.type) {
    case Command::PING:
        break;
    case Command::SET:
        SetSettings(d, c.settings, c.choosesLever, "", now, error);
        break;
    case Command::SET_GEAR:
        if (TapperReporting(&d.tapper)) {
            *error = std::string("set-gear: the game reports its gear itself (") +
                     GearName(TapperLanding(&d.tapper)) + "), and its word wins";
            break;
        }
        SendKeys(d, TapperSetGear(&d.tapper, now, c.gear), now);
        d.clients.ShowGame(&d.tapper);
        break;
    case Command::LEARN_START:
        if (!d.learning.MayStart(HasLever(d), IsFixed(d, "plate") || IsFixed(d, "gate"), !d.configPath.empty(),
                                 error))
            break;
        // The lever shifts nothing while it answers questions.
        SendKeys(d, TapperStop(&d.tapper, now), now);
        d.learning.Start(LeverSample(d), d.clients.Id(slot));
        ShowLearning(d);
        break;
    case Command::LEARN_SKIP:
    case Command::LEARN_DONE:
    case Command::LEARN_CANCEL:
        if (!d.learning.MayStep(c.name, error))
            break;
        if (c.type == Command::LEARN_CANCEL)
            EndLearning(d, "cancelled", now);
        else if (c.type == Command::LEARN_SKIP ? d.learning.Skip() : d.learning.Done())
            FinishLearning(d, now);
        else
            ShowLearning(d);
        break;
    case Command::WATCH_DEVICES:
        d.clients.Watch(slot, c.on, LeverNow(d));
        break;
    }
}

void OnControl(Daemon &d)
{
    bool first = !d.clients.HasClients();
    std::vector<int> fresh = d.clients.Accept();
    if (fresh.empty())
        return;
    // The first clients since there were none, however many came at once.
    std::string why = first ? d.clients.CatchUp(LeverNow(d), &d.tapper) : "";
    for (int slot : fresh)
        d.clients.Greet(slot, d.settings, d.fixed, d.learning.View());
    if (!why.empty())
        Status(d, "%s", why.c_str());
}

void OnClient(Daemon &d, const Ready &ready, int64_t now)
{
    int slot = static_cast<int>(ready.index);
    std::vector<std::string> lines;
    d.clients.OnClient(slot, ready.events, &lines);
    for (const std::string &line : lines) {
        if (d.status >= 0 || !d.clients.Connected(slot))
            break;
        Command c;
        std::string error;
        if (ReadRequest(line, d.fixed, &c, &error))
            CarryOut(d, slot, c, now, &error);
        d.clients.Reply(slot, c.id, error);
    }
}

// After each turn of the loop: what clients that went leave behind is undone, and what
// waits for the clients is written.
void AfterTurn(Daemon &d, int64_t now)
{
    if (d.learning.Active() && d.learning.Learner() && !d.clients.HasClient(d.learning.Learner()))
        EndLearning(d, "cancelled", now);
    d.clients.EndTurn();
}

void OnSignals(Daemon &d, int64_t now)
{
    for (Signals::Meaning signal; d.status < 0 && (signal = d.signals.Next()) != Signals::NONE;) {
        if (signal == Signals::RELOAD) {
            OnReload(d, now);
            continue;
        }
        if (signal == Signals::CONTINUE) {
            // The lever may have moved while the program was stopped.
            Redecode(d, now);
            continue;
        }
        // Never leave a key down: let it go, then stop or end.
        SendKeys(d, TapperStop(&d.tapper, now), now);
        if (d.status >= 0)
            break;
        if (signal != Signals::STOP) {
            d.status = 0;
            break;
        }
        Signals::Stop();
        now = Now();
    }
}

bool StartSimulate(Daemon &d, int64_t now)
{
    d.keys = std::make_unique<KeyPrinter>(KeysOf(d.settings), now);
    d.input.emplace();
    if (isatty(STDIN_FILENO))
        PrintLine("Type a lever position and Enter: 1..7, r (reverse), n (neutral), x (reset). Ctrl-D ends.");
    // Standard input stays blocking, as it is shared with the shell; it is read only when
    // epoll says it is ready. What epoll refuses (a regular file, /dev/zero) never blocks:
    // it is read a piece a turn, so that signals still get in.
    if (!d.poller.Watch(STDIN_FILENO, SRC_STDIN)) {
        if (errno != EPERM) {
            EndWithError(d, std::string("standard input: ") + strerror(errno));
            return false;
        }
        d.pollInput = false;
    }
    return true;
}

bool StartLever(Daemon &d, int64_t now)
{
    std::string error;
    if (d.settings.output == OUTPUT_SHIFTER)
        d.keys = Shifter::Create(now, &error);
    else
        d.keys = Keyboard::Create(KeysOf(d.settings), now, &error);
    if (!d.keys) {
        EndWithError(d, error);
        return false;
    }
    if (!OpenFinder(d, d.settings.waitForLever))
        return false;
    LeverFinder::Outcome outcome = d.finder->Start();
    if (outcome == LeverFinder::NO_CHANGE) {
        d.leverWhy = Unreadable(*d.finder);
        Status(d, "waiting for a lever%s%s", d.leverWhy.empty() ? "" : "; ", d.leverWhy.c_str());
    }
    OnFinderOutcome(d, outcome, now);
    return d.status < 0;
}

bool SetUp(Daemon &d)
{
    NeverWaitOnStderr();
    if (!d.signals.Open() || !d.poller.Open() || !d.tapTimer.Open()) {
        EndWithError(d, std::string("cannot set up the event loop: ") + strerror(errno));
        return false;
    }
    if (!Watch(d, d.signals.Get(), SRC_SIGNALS) || !Watch(d, d.tapTimer.Get(), SRC_TAP))
        return false;
    TapperStart(&d.tapper, TimingOf(d.settings));
    int64_t now = Now();
    TelemetryNews news;
    std::string error;
    if (!d.telemetry.ListenAt(d.settings.telemetryIp, d.settings.telemetryPort, now, &news, &error)) {
        EndWithError(d, error);
        return false;
    }
    StatusLines(d, news.lines);
    if (!(d.settings.mode == MODE_SIMULATE ? StartSimulate(d, now) : StartLever(d, now)))
        return false;
    // Once there is a lever to drive: a gearvane that ends at once takes no socket.
    if (!d.controlLater)
        OpenControl(d);
    return true;
}

bool Finished(const Daemon &d)
{
    return d.status >= 0 || (d.input && d.input->Done() && !TapperBusy(&d.tapper));
}

void Dispatch(Daemon &d, const Ready &ready, int64_t now)
{
    switch (ready.source) {
    case SRC_LEVER:
        if (d.finder->Attached())
            OnLever(d, ready.events, now);
        break;
    case SRC_HOTPLUG:
        OnFinderOutcome(d, d.finder->OnHotplug(now), now);
        break;
    case SRC_RETRY:
        OnFinderOutcome(d, d.finder->OnRetry(now), now);
        break;
    case SRC_TAP:
        d.tapTimer.Drain();
        SendKeys(d, TapperTimer(&d.tapper, now), now);
        break;
    case SRC_STDIN:
        OnInput(d, now);
        break;
    case SRC_SIGNALS:
        OnSignals(d, now);
        break;
    case SRC_TELEMETRY: {
        TelemetryNews news;
        d.telemetry.OnReady(ready.index, now, &news);
        OnTelemetry(d, &news, now);
        break;
    }
    case SRC_CONTROL:
        OnControl(d);
        break;
    case SRC_CLIENT:
        OnClient(d, ready, now);
        break;
    case SRC_DEVICES:
        d.clients.OnNodes(LeverNode(d));
        break;
    case SRC_DEVICE:
        d.clients.OnDevice(ready.index);
        break;
    }
}

}  // namespace

int RunDaemon(const std::vector<std::string> &args, const Settings &settings)
{
    Daemon d(args, settings);
    if (SetUp(d)) {
        while (!Finished(d)) {
            bool readInput = d.input && ((!d.pollInput && !d.input->Done()) || d.input->Buffered());
            Ready ready[8];
            int n = d.poller.Wait(ready, 8, readInput ? 0 : -1);
            if (n < 0)
                EndWithError(d, std::string("epoll_wait: ") + strerror(errno));
            // A key-up that is due goes before anything else that is ready.
            for (int first = 1; first >= 0; first--)
                for (int i = 0; i < n && d.status < 0; i++)
                    if ((ready[i].source == SRC_TAP) == first)
                        Dispatch(d, ready[i], Now());
            if (readInput && d.status < 0)
                OnInput(d, Now());
            AfterTurn(d, Now());
        }
    }
    TelemetryNews news;
    d.telemetry.Stop(Now(), &news);
    StatusLines(d, news.lines);
    d.clients.Close("gearvane is ending");
    int status = d.status < 0 ? 0 : d.status;
    if (d.input && d.input->Rejected()) {
        long n = d.input->Rejected();
        PrintError("%ld line%s rejected", n, n > 1 ? "s" : "");
        status = status ? status : 1;
    }
    return status;
}
