// The loop and its handlers: it holds the pieces (the lever finder or the --simulate input,
// the key output, the tap scheduler and its timer, the signals, the control socket) and
// hands each event to the one it is for. No piece knows of the loop or of another piece.
#include "daemon.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <time.h>
#include <unistd.h>

#include <deque>
#include <memory>
#include <optional>

#include "../../config/config_file.h"
#include "../../config/gate_map.h"
#include "../../core/tapper.h"
#include "control.h"
#include "control_protocol.h"
#include "device_watch.h"
#include "finder.h"
#include "gate_learning.h"
#include "key_printer.h"
#include "keyboard.h"
#include "lever_search.h"
#include "poller.h"
#include "process.h"
#include "reload.h"
#include "say.h"
#include "shifter.h"
#include "simulate_input.h"
#include "telemetry_socket.h"

namespace {

struct Daemon {
    std::vector<std::string> args;  // the command line, read again on a reload
    Settings settings;
    Poller poller;
    Signals signals;
    Timer tapTimer;
    Tapper tapper;
    std::unique_ptr<KeyOutput> keys;
    std::optional<LeverFinder> finder;   // the lever, unless --simulate
    std::optional<SimulateInput> input;  // --simulate
    std::optional<TelemetrySocket> telemetry;  // the game's own reports of its gear, with --telemetry
    bool pollInput = true;               // false: standard input is read once a turn
    int status = -1;                     // the exit status, once it is decided

    // The control socket, and what its clients were last told.
    ControlServer control;
    std::string configPath;          // the file that `set` and learning write, "" for none
    std::vector<std::string> fixed;  // the settings the command line gives
    std::deque<std::string> backlog;  // the last status lines, for a client that connects
    LeverState leverShown;
    GameState gameShown;
    const char *gameSource = "start";
    std::vector<DeviceEntry> devicesShown;
    DeviceWatch watch;
    std::string leverWhy;  // why the lever looked for cannot be had, when that is known
    GateLearning learning;
    uint64_t learner = 0;  // the client that started learning
    bool controlLater = false;  // the socket waits for the lever, which another gearvane drives
};

enum { BACKLOG_LINES = 20 };

// Unix time in milliseconds, for the clients' status lines.
int64_t WallMs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

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
    int64_t now = WallMs();
    d.control.Broadcast(StatusLine(line, now, false));
    d.backlog.push_back(StatusLine(line, now, true));
    if (d.backlog.size() > BACKLOG_LINES)
        d.backlog.pop_front();
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

// Tells the clients of the lever, when it changed, and those that watch of its input.
void ShowLever(Daemon &d)
{
    if (!d.control.Count())
        return;
    LeverState l = LeverNow(d);
    if (l == d.leverShown)
        return;
    bool moved = l.attached && d.leverShown.attached && l.node == d.leverShown.node &&
                 (memcmp(l.sample.buttons, d.leverShown.sample.buttons, sizeof l.sample.buttons) != 0 ||
                  l.sample.hat != d.leverShown.sample.hat);
    d.leverShown = l;
    d.control.Broadcast(LeverLine(l));
    if (moved)
        for (int slot = 0; slot < ControlServer::MAX_CLIENTS; slot++)
            if (d.control.Watching(slot))
                d.control.Send(slot, DeviceInputLine(l.node, l.sample, l.hasHat));
}

GameState GameNow(const Daemon &d)
{
    GameState g;
    g.gear = TapperLanding(&d.tapper);
    g.source = TapperReporting(&d.tapper) ? "telemetry" : d.gameSource;
    g.busy = TapperBusy(&d.tapper);
    g.target = TapperHeading(&d.tapper);
    return g;
}

void ShowGame(Daemon &d)
{
    GameState g = GameNow(d);
    if (!d.control.Count() || g == d.gameShown)
        return;
    d.gameShown = g;
    d.control.Broadcast(GameLine(g));
}

void ShowSettings(Daemon &d)
{
    d.control.Broadcast(SettingsLine(d.settings, d.fixed));
}

void ShowLearning(Daemon &d)
{
    d.control.Broadcast(LearningLine(d.learning.View()));
}

// Reads the device list again; true when it changed.
bool ReadDevices(Daemon &d)
{
    std::vector<DeviceEntry> devices;
    if (d.input)
        devices.push_back({"simulate", "gearvane simulated lever", "gearvane simulated lever", 0, 0, MAX_BUTTONS,
                           true, true, true, ""});
    else
        devices = ListDevices(d.finder && d.finder->Attached() ? d.finder->lever.path : "");
    if (devices == d.devicesShown)
        return false;
    d.devicesShown = devices;
    return true;
}

// The device list again, to the clients if it changed.
void ShowDevices(Daemon &d)
{
    if (d.control.Count() && ReadDevices(d))
        d.control.Broadcast(DevicesLine(d.devicesShown));
}

// What the keys just sent mean for the game's gear, told to the clients.
void OnTaps(Daemon &d, const TapActions &a, const TapSent &sent)
{
    bool resync = (a.news.reset || a.news.set) && !a.news.reported;
    if (resync)
        d.gameSource = a.news.reset ? "reset" : "user";
    if (sent.pressed && d.control.Count()) {
        int32_t to = TapperLanding(&d.tapper), from = to - a.press;
        // The gear the game was set to comes first, then the tap that goes on from it.
        GameState before = {from, d.gameSource, TapperHeading(&d.tapper), true};
        if (resync && !(before == d.gameShown)) {
            d.gameShown = before;
            d.control.Broadcast(GameLine(before));
        }
        const ShiftKeys &keys = d.keys->Keys();
        d.control.Broadcast(TapLine(a.press, a.press > 0 ? keys.upName : keys.downName, from, to));
    }
    if (sent.pressed)
        d.gameSource = "counted";
    ShowGame(d);
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
    OnTaps(d, a, sent);
    // Where a change ended is for trying things out; the daemon's log keeps to what it sends.
    if (!d.input)
        a.news.ended = false;
    char news[256];
    FormatNews(a.news, d.keys->Keys().upName.c_str(), d.keys->Keys().downName.c_str(), news, sizeof news);
    StatusLines(d, news);
}

// A lever position, decoded: its gear is capped and handed to the scheduler.
void ShiftTo(Daemon &d, Decoded position, int64_t now)
{
    SendKeys(d, TapperLever(&d.tapper, now, CapGear(position.gear, d.settings.maxGear), position.reset), now);
}

void LearnFrom(Daemon &d, const Sample &sample, int64_t now);

// The lever moved (or is to be decoded again): while gates are learned its input answers
// the question asked, else its gear is shifted to.
void ReadLever(Daemon &d, int64_t now)
{
    Sample sample = d.input ? d.input->Held() : ReadSample(d.finder->lever);
    if (d.learning.Active())
        LearnFrom(d, sample, now);
    else
        ShiftTo(d, d.input ? d.input->Position(d.settings.map) : DecodeGate(d.settings.map, sample), now);
    ShowLever(d);
}

// The lever's position decoded again at once, as a click in the Windows dialog does.
void Redecode(Daemon &d, int64_t now)
{
    if (d.input || (d.finder && d.finder->Attached()))
        ReadLever(d, now);
}

// Takes the control socket; that there is none is said, and no reason to end.
void OpenControl(Daemon &d)
{
    d.controlLater = false;
    std::string why = d.control.Open(&d.poller);
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
        d.controlLater = !d.control.Listening();
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
    ShowDevices(d);
}

void EndLearning(Daemon &d, const char *how, int64_t now);

void OnUnplug(Daemon &d, int64_t now)
{
    SendKeys(d, TapperStop(&d.tapper, now), now);
    Status(d, "lever unplugged; waiting for it");
    if (d.learning.Active())
        EndLearning(d, "lever lost", now);
    OnFinderOutcome(d, d.finder->OnLost(), now);
    ShowLever(d);
    ShowDevices(d);
}

void OnLever(Daemon &d, uint32_t events, int64_t now)
{
    libevdev *dev = d.finder->lever.dev.get();
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    bool dirty = false, dropped = false;
    for (;;) {
        input_event ev;
        int rc = libevdev_next_event(dev, flags, &ev);
        if (rc == LIBEVDEV_READ_STATUS_SYNC) {
            // Events were dropped: libevdev brings its state up to date first.
            flags = LIBEVDEV_READ_FLAG_SYNC;
            dropped = true;
            continue;
        }
        if (rc == -EAGAIN) {
            if (flags == LIBEVDEV_READ_FLAG_SYNC) {
                flags = LIBEVDEV_READ_FLAG_NORMAL;
                continue;
            }
            break;
        }
        if (rc != LIBEVDEV_READ_STATUS_SUCCESS) {
            OnUnplug(d, now);
            return;
        }
        if (ev.type == EV_KEY || (ev.type == EV_ABS && (ev.code == ABS_HAT0X || ev.code == ABS_HAT0Y)))
            dirty = true;
        if (ev.type == EV_SYN && ev.code == SYN_REPORT && dirty && !dropped) {
            ReadLever(d, now);
            dirty = false;
        }
    }
    if (dropped) {
        Status(d, "lever events dropped; state read again");
        ReadLever(d, now);
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

// Listens for the game's telemetry on `ip`:`port`. False, with *error, when the port cannot be had.
bool ListenForTelemetry(Daemon &d, uint32_t ip, int port, std::string *error)
{
    d.telemetry.emplace();
    if (!d.telemetry->Open(ip, port, error)) {
        d.telemetry.reset();
        return false;
    }
    if (!d.poller.Watch(d.telemetry->Socket(), SRC_TELEMETRY, 0) ||
        !d.poller.Watch(d.telemetry->TimerFd(), SRC_TELEMETRY, 1)) {
        *error = std::string("epoll_ctl: ") + strerror(errno);
        d.telemetry.reset();  // closing them takes them out of epoll
        return false;
    }
    Status(d, "telemetry: waiting for packets on %s", d.telemetry->Where().c_str());
    return true;
}

void StopTelemetry(Daemon &d)
{
    if (!d.telemetry)
        return;
    TelemetryNews news;
    d.telemetry->Flush(Now(), &news);
    StatusLines(d, news.lines);
    d.poller.Unwatch(d.telemetry->Socket());
    d.poller.Unwatch(d.telemetry->TimerFd());
    d.telemetry.reset();
}

// The packets that came, or the timer of their status lines: the newest gear goes to the
// scheduler with the time it was read.
void OnTelemetry(Daemon &d, uint32_t index, int64_t now)
{
    TelemetryNews news;
    if (index == 0)
        d.telemetry->Drain(now, &news);
    else
        d.telemetry->OnTimer(now, &news);
    StatusLines(d, news.lines);
    if (news.hasGear)
        SendKeys(d, TapperReading(&d.tapper, now, news.gear), now);
}

// Telemetry moves to where the settings read again say. Where the port cannot be had it is
// off, and the error says why.
void MoveTelemetry(Daemon &d, Settings *fresh)
{
    if (fresh->telemetryIp == d.settings.telemetryIp && fresh->telemetryPort == d.settings.telemetryPort)
        return;
    StopTelemetry(d);
    std::string error;
    if (fresh->telemetryPort && !ListenForTelemetry(d, fresh->telemetryIp, fresh->telemetryPort, &error)) {
        PrintError("%s; telemetry is off", error.c_str());
        fresh->telemetryPort = 0;
    }
}

// Puts settings read again in force; which lever, and grabbing it, are for the caller.
void ApplySettings(Daemon &d, Settings fresh, int64_t now)
{
    MoveTelemetry(d, &fresh);
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
    ShowSettings(d);
    Redecode(d, now);
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
    d.finder.emplace(d.settings.device, d.settings.grab, true);
    std::string error;
    if (!d.finder->Open(&error)) {
        EndWithError(d, error);
        return;
    }
    if (!Watch(d, d.finder->HotplugFd(), SRC_HOTPLUG) || !Watch(d, d.finder->RetryFd(), SRC_RETRY))
        return;
    LeverFinder::Outcome outcome = d.finder->Start();
    d.leverWhy.clear();
    if (outcome == LeverFinder::FAILED) {
        d.leverWhy = d.finder->error;
        Status(d, "waiting for a lever: %s", d.leverWhy.c_str());
    } else if (outcome == LeverFinder::NO_CHANGE) {
        if (!d.finder->unreadable.empty())
            d.leverWhy = "cannot read " + d.finder->unreadable[0] + ": " + ReadAdvice;
        Status(d, "waiting for a lever%s%s", d.leverWhy.empty() ? "" : "; ", d.leverWhy.c_str());
    }
    OnFinderOutcome(d, outcome == LeverFinder::FAILED ? LeverFinder::NO_CHANGE : outcome, now);
    ShowLever(d);
    ShowDevices(d);
}

// "FILE:LINE: KEY: why" as "KEY: why" when KEY is one of those set: the mistake is in the
// value given, not in the file.
std::string Unplaced(const std::string &error, const std::string &path,
                     const std::vector<std::pair<std::string, std::string>> &set)
{
    if (error.compare(0, path.size() + 1, path + ":") != 0)
        return error;
    size_t key = error.find(": ", path.size() + 1);
    if (key == std::string::npos)
        return error;
    std::string rest = error.substr(key + 2);
    for (const auto &kv : set)
        if (rest.compare(0, kv.first.size() + 1, kv.first + ":") == 0)
            return rest;
    return error;
}

// Sets keys of the config file, checks the whole file with the command line as at start,
// saves it and applies it as a reload does; `device` and `grab` are taken at once. `said` is
// the status line, or empty for one that names what changed. False, with the reason in
// *error, when nothing was saved or applied.
bool SetSettings(Daemon &d, const std::vector<std::pair<std::string, std::string>> &set, const std::string &said,
                 int64_t now, std::string *error)
{
    if (d.configPath.empty()) {
        *error = "there is no config file to save to: HOME is not set";
        return false;
    }
    std::string text;
    int rc = ReadConfigFile(d.configPath, &text, error);
    if (rc != 0 && rc != ENOENT)
        return false;
    std::string fresh = RewriteConfig(text, set);
    if (fresh == text)
        return true;
    Settings checked;
    std::string out;
    if (LoadSettings(d.args, &checked, error, &out, &fresh) >= 0) {
        *error = Unplaced(*error, d.configPath, set);
        return false;
    }
    if (!SaveLearned(d.configPath, set, KeyboardKeyCode, error))
        return false;
    Settings applied;
    if (!ReadSettingsAgain(d.args, d.settings, &applied, error))
        return false;
    bool retake = false;
    std::string names;
    for (const auto &kv : set) {
        retake = retake || kv.first == "device" || kv.first == "grab";
        names += kv.first + " = " + kv.second + ", ";
    }
    applied.device = checked.device;
    applied.grab = checked.grab;
    ApplySettings(d, applied, now);
    ShowSettings(d);
    if (said.empty())
        Status(d, "%ssaved to %s", names.c_str(), d.configPath.c_str());
    else
        Status(d, "%s", said.c_str());
    if (retake)
        RetakeLever(d, now);
    else
        Redecode(d, now);
    return true;
}

void EndLearning(Daemon &d, const char *how, int64_t now)
{
    d.learning.End(how);
    d.learner = 0;
    ShowLearning(d);
    Redecode(d, now);
}

// Learning is over: the gears answered, with the reset, are saved and put in force.
void FinishLearning(Daemon &d, int64_t now)
{
    GateMap map = d.learning.Map();
    if (map.count == 0) {
        EndLearning(d, "nothing learned", now);
        return;
    }
    std::string name = d.input ? "gearvane simulated lever" : LeverIdentifier(d.finder->lever, d.settings.device);
    auto learned = LearnedSettings(name, map);
    // A lever that the command line names stays as it is; the map is saved all the same.
    for (const std::string &key : d.fixed)
        if (key == "device")
            learned.erase(learned.begin());
    // Ended first, so that the lever is decoded by the new map and not taken as an answer.
    d.learning.End("saved");
    d.learner = 0;
    std::string error;
    if (!SetSettings(d, learned, "gates learned from " + name + ": " + learned.back().second, now, &error)) {
        Status(d, "gates not saved: %s", error.c_str());
        d.learning.End("not saved");
    }
    ShowLearning(d);
    Redecode(d, now);
}

void LearnFrom(Daemon &d, const Sample &sample, int64_t now)
{
    if (d.learning.OnSample(sample))
        FinishLearning(d, now);
    else
        ShowLearning(d);
}

bool IsFixed(const Daemon &d, const std::string &key)
{
    for (const std::string &k : d.fixed)
        if (k == key)
            return true;
    return false;
}

// Carries out a learn request; false, with *error, when the state does not allow it.
bool OnLearnRequest(Daemon &d, int slot, const std::string &action, int64_t now, std::string *error)
{
    if (action == "start") {
        if (d.learning.Active())
            *error = "learn start: learning is under way already";
        else if (!d.input && !(d.finder && d.finder->Attached()))
            *error = "learn start: there is no lever to learn: plug it in, or choose it";
        else if (IsFixed(d, "plate") || IsFixed(d, "gate"))
            *error = "learn start: gearvane's command line sets the gates, which wins over the config file";
        else if (d.configPath.empty())
            *error = "learn start: there is no config file to save to: HOME is not set";
        if (!error->empty())
            return false;
        // The lever shifts nothing while it answers questions.
        SendKeys(d, TapperStop(&d.tapper, now), now);
        d.learning.Start(d.input ? d.input->Held() : ReadSample(d.finder->lever));
        d.learner = d.control.Id(slot);
        ShowLearning(d);
        return true;
    }
    if (!d.learning.Active()) {
        *error = "learn " + action + ": no learning is under way";
        return false;
    }
    if (action == "cancel")
        EndLearning(d, "cancelled", now);
    else if (action == "skip" ? d.learning.Skip() : d.learning.Done())
        FinishLearning(d, now);
    else
        ShowLearning(d);
    return true;
}

// The live input of every device starts for a client that asks, or stops.
void OnWatchRequest(Daemon &d, int slot, bool on)
{
    if (on == d.control.Watching(slot))
        return;
    d.control.SetWatching(slot, on);
    if (!on)
        return;
    std::vector<DeviceInput> states;
    LeverState lever = LeverNow(d);
    if (lever.attached)
        states.push_back({lever.node, lever.sample, lever.hasHat});
    if (!d.input)
        d.watch.Open(&d.poller, lever.node, &states);
    for (const DeviceInput &in : states)
        d.control.Send(slot, DeviceInputLine(in.node, in.sample, in.hasHat));
}

void OnRequest(Daemon &d, int slot, const std::string &line, int64_t now)
{
    Request r;
    std::string error;
    if (ReadRequest(line, &r, &error)) {
        switch (r.type) {
        case Request::PING:
            break;
        case Request::SET:
            for (const auto &kv : r.settings)
                if (error.empty() && IsFixed(d, kv.first))
                    error = kv.first + ": set on gearvane's command line, which wins over the config file";
            if (error.empty())
                SetSettings(d, r.settings, "", now, &error);
            break;
        case Request::SET_GEAR:
            if (TapperReporting(&d.tapper)) {
                error = std::string("set-gear: the game reports its gear itself (") +
                        GearName(TapperLanding(&d.tapper)) + "), and its word wins";
                break;
            }
            SendKeys(d, TapperSetGear(&d.tapper, now, r.gear), now);
            ShowGame(d);
            break;
        case Request::LEARN:
            OnLearnRequest(d, slot, r.action, now, &error);
            break;
        case Request::WATCH_DEVICES:
            OnWatchRequest(d, slot, r.on);
            break;
        }
    }
    d.control.Send(slot, ReplyLine(r.id, error.empty(), error));
}

// A client connected: the whole state, in the order that clients rely on.
void Greet(Daemon &d, int slot)
{
    if (d.control.Count() == 1) {
        // The first client: from now on the device list is kept up to date.
        if (!d.input && !d.watch.WatchNodes(&d.poller, true))
            Status(d, "the device list is not kept up to date: %s", strerror(errno));
        d.devicesShown.clear();
        d.leverShown = LeverNow(d);
        d.gameShown = GameNow(d);
        ReadDevices(d);
    }
    d.control.Send(slot, HelloLine(getpid(), d.input.has_value(), d.configPath));
    d.control.Send(slot, SettingsLine(d.settings, d.fixed));
    d.control.Send(slot, DevicesLine(d.devicesShown));
    d.control.Send(slot, LeverLine(d.leverShown));
    d.control.Send(slot, GameLine(d.gameShown));
    d.control.Send(slot, LearningLine(d.learning.View()));
    for (const std::string &line : d.backlog)
        d.control.Send(slot, line);
}

void OnControl(Daemon &d)
{
    std::vector<int> fresh;
    d.control.Accept(ByeLine("too many clients: at most 8"), &fresh);
    for (int slot : fresh)
        Greet(d, slot);
}

void OnClient(Daemon &d, const Ready &ready, int64_t now)
{
    std::vector<std::string> lines;
    d.control.OnReady(static_cast<int>(ready.index), ready.events, &lines);
    for (const std::string &line : lines)
        if (d.status < 0 && d.control.Connected(static_cast<int>(ready.index)))
            OnRequest(d, static_cast<int>(ready.index), line, now);
}

// After each turn of the loop: what clients that went leave behind is undone, and what
// waits for the clients is written.
void AfterTurn(Daemon &d, int64_t now)
{
    if (d.learning.Active() && d.learner && !d.control.HasClient(d.learner))
        EndLearning(d, "cancelled", now);
    if (d.watch.IsOpen() && !d.control.AnyWatching())
        d.watch.Close();
    if (d.control.Listening() && !d.control.Count()) {
        d.watch.WatchNodes(&d.poller, false);
        d.devicesShown.clear();
    }
    d.control.Flush();
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
    d.finder.emplace(d.settings.device, d.settings.grab, d.settings.waitForLever);
    if (!d.finder->Open(&error)) {
        EndWithError(d, error);
        return false;
    }
    if (!Watch(d, d.finder->HotplugFd(), SRC_HOTPLUG) || !Watch(d, d.finder->RetryFd(), SRC_RETRY))
        return false;
    LeverFinder::Outcome outcome = d.finder->Start();
    if (outcome == LeverFinder::NO_CHANGE) {
        std::string nodes;
        for (const std::string &node : d.finder->unreadable)
            nodes += (nodes.empty() ? "" : ", ") + node;
        if (nodes.empty())
            Status(d, "waiting for a lever");
        else
            Status(d, "waiting for a lever; cannot read %s: %s", nodes.c_str(), ReadAdvice);
        if (!nodes.empty())
            d.leverWhy = "cannot read " + nodes + ": " + ReadAdvice;
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
    d.configPath = ConfigPath(d.args);
    d.fixed = CommandLineKeys(d.args);
    std::string error;
    if (d.settings.telemetryPort &&
        !ListenForTelemetry(d, d.settings.telemetryIp, d.settings.telemetryPort, &error)) {
        EndWithError(d, error);
        return false;
    }
    int64_t now = Now();
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
    case SRC_TELEMETRY:
        if (d.telemetry)
            OnTelemetry(d, ready.index, now);
        break;
    case SRC_CONTROL:
        OnControl(d);
        break;
    case SRC_CLIENT:
        OnClient(d, ready, now);
        break;
    case SRC_DEVICES:
        if (d.watch.OnNodes()) {
            ShowDevices(d);
            if (d.watch.IsOpen()) {
                std::vector<DeviceInput> states;
                d.watch.Open(&d.poller, LeverNow(d).node, &states);
                for (const DeviceInput &in : states)
                    for (int slot = 0; slot < ControlServer::MAX_CLIENTS; slot++)
                        if (d.control.Watching(slot))
                            d.control.Send(slot, DeviceInputLine(in.node, in.sample, in.hasHat));
            }
        }
        break;
    case SRC_DEVICE: {
        DeviceInput in;
        if (d.watch.OnReady(ready.index, &in))
            for (int slot = 0; slot < ControlServer::MAX_CLIENTS; slot++)
                if (d.control.Watching(slot))
                    d.control.Send(slot, DeviceInputLine(in.node, in.sample, in.hasHat));
        break;
    }
    }
}

}  // namespace

int RunDaemon(const std::vector<std::string> &args, const Settings &settings)
{
    Daemon d;
    d.args = args;
    d.settings = settings;
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
    StopTelemetry(d);
    d.control.CloseAll(ByeLine("gearvane is ending"));
    int status = d.status < 0 ? 0 : d.status;
    if (d.input && d.input->Rejected()) {
        long n = d.input->Rejected();
        PrintError("%ld line%s rejected", n, n > 1 ? "s" : "");
        status = status ? status : 1;
    }
    return status;
}
