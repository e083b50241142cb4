// The loop and its handlers: it holds the pieces (the lever finder or the --simulate input,
// the key output, the tap scheduler and its timer, the signals) and hands each event to the
// one it is for. No piece knows of the loop or of another piece.
#include "daemon.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <memory>
#include <optional>

#include "../../core/tapper.h"
#include "finder.h"
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
    std::vector<std::string> args;  // the command line, read again on SIGHUP
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
};

// Every status line goes out here, one line at a time.
void Status(const Daemon &d, const char *format, ...) __attribute__((format(printf, 2, 3)));
void Status(const Daemon &d, const char *format, ...)
{
    if (d.settings.quiet)
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    PrintLine(line);
}

// Status lines, each ending in a newline.
void StatusLines(const Daemon &d, char *text)
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

void ReadLever(Daemon &d, int64_t now)
{
    ShiftTo(d, DecodeGate(d.settings.map, ReadSample(d.finder->lever)), now);
}

// What the finder made of its last look: a lever to read from now on, or a failure.
void OnFinderOutcome(Daemon &d, LeverFinder::Outcome outcome, int64_t now)
{
    if (outcome == LeverFinder::FAILED)
        EndWithError(d, d.finder->error);
    if (outcome == LeverFinder::DRIVEN)
        Status(d, "%s; waiting until it is free", d.finder->error.c_str());
    if (outcome != LeverFinder::FOUND || !Watch(d, d.finder->lever.fd.Get(), SRC_LEVER))
        return;
    Status(d, "lever: %s (%s)", d.finder->lever.path.c_str(), d.finder->lever.name.c_str());
    ReadLever(d, now);
}

void OnUnplug(Daemon &d, int64_t now)
{
    SendKeys(d, TapperStop(&d.tapper, now), now);
    Status(d, "lever unplugged; waiting for it");
    OnFinderOutcome(d, d.finder->OnLost(), now);
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
    d.input->Read();
    Decoded position;
    while (d.status < 0 && d.input->Next(&position))
        ShiftTo(d, position, now);
    if (d.input->Failed() && d.status < 0)
        d.status = 1;
    // An ended pipe stays readable for ever.
    if (d.input->Done() && d.pollInput)
        d.poller.Unwatch(STDIN_FILENO);
}

// Decodes the lever's position again, or --simulate's last one, and shifts there.
void ShiftToLever(Daemon &d, int64_t now)
{
    if (d.finder && d.finder->Attached())
        ReadLever(d, now);
    else if (d.input)
        ShiftTo(d, d.input->Last(), now);
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

void OnReload(Daemon &d, int64_t now)
{
    Settings fresh;
    std::string error;
    if (!ReadSettingsAgain(d.args, d.settings, &fresh, &error)) {
        PrintError("settings not reloaded: %s", error.c_str());
        return;
    }
    MoveTelemetry(d, &fresh);
    d.settings = fresh;
    TapperSetTiming(&d.tapper, TimingOf(fresh));
    // Before the engine is asked again: a new keyboard must be in place, and settled, before
    // a key-down with a new key can go out.
    d.keys->SetKeys(KeysOf(fresh), now);
    Status(d, "settings reloaded");
    // As a click in the Windows dialog: the lever's position is decoded again at once.
    ShiftToLever(d, now);
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
            ShiftToLever(d, now);
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
    std::string error;
    if (d.settings.telemetryPort &&
        !ListenForTelemetry(d, d.settings.telemetryIp, d.settings.telemetryPort, &error)) {
        EndWithError(d, error);
        return false;
    }
    int64_t now = Now();
    return d.settings.mode == MODE_SIMULATE ? StartSimulate(d, now) : StartLever(d, now);
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
            bool readInput = !d.pollInput && !d.input->Done();
            Ready ready[8];
            int n = d.poller.Wait(ready, 8, readInput ? 0 : -1);
            if (n < 0)
                EndWithError(d, std::string("epoll_wait: ") + strerror(errno));
            for (int i = 0; i < n && d.status < 0; i++)
                Dispatch(d, ready[i], Now());
            if (readInput && d.status < 0)
                OnInput(d, Now());
        }
    }
    StopTelemetry(d);
    int status = d.status < 0 ? 0 : d.status;
    if (d.input && d.input->Rejected()) {
        long n = d.input->Rejected();
        PrintError("%ld line%s rejected", n, n > 1 ? "s" : "");
        status = status ? status : 1;
    }
    return status;
}
