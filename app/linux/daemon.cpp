// The loop: it holds the pieces (the lever finder or the --simulate input, the key output
// and the tap scheduler) and hands each event to the one it is for.
#include "daemon.h"

#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>

#include "../../core/tapper.h"
#include "finder.h"
#include "key_printer.h"
#include "keyboard.h"
#include "say.h"
#include "shifter.h"
#include "simulate_input.h"

namespace {

enum Source : uint32_t { SRC_LEVER, SRC_WATCH, SRC_RETRY, SRC_TAP, SRC_SIGNALS, SRC_STDIN };

struct Daemon {
    std::vector<std::string> args;
    Settings settings;
    Fd epoll, signals;
    Timer tapTimer;
    Tapper tapper;
    std::unique_ptr<KeyOutput> keys;
    std::optional<LeverFinder> finder;    // the lever, unless --simulate
    std::optional<SimulateInput> input;   // --simulate
    bool pollInput = true;                // false: standard input is read once a turn
    int status = -1;                      // the exit status, once it is decided
};

void Status(const Daemon &d, const char *format, ...) __attribute__((format(printf, 2, 3)));
void Status(const Daemon &d, const char *format, ...)
{
    if (d.settings.quiet)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
}

void Stop(Daemon &d, const char *format, const char *detail)
{
    Fail(format, detail);
    d.status = 1;
}

bool Watch(Daemon &d, int fd, Source source)
{
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.u32 = source;
    if (epoll_ctl(d.epoll.Get(), EPOLL_CTL_ADD, fd, &ev) == 0)
        return true;
    Stop(d, "epoll_ctl: %s", strerror(errno));
    return false;
}

ShiftKeys KeysOf(const Settings &s)
{
    return s.output == OUTPUT_SHIFTER ? ShifterButtons : ShiftKeys{s.upCode, s.downCode, s.upKey, s.downKey};
}

// The keys the engine asks for, then the status lines.
void Perform(Daemon &d, TapActions a, int64_t now)
{
    KeyOutput &keys = *d.keys;
    bool released = a.release && keys.Release(now);
    bool pressed = keys.Error().empty() && a.press && keys.Press(a.press, now);
    if (!keys.Error().empty()) {
        Stop(d, "%s", keys.Error().c_str());
        return;
    }
    TapperDone(&d.tapper, a, {released, pressed, Now(), keys.ReadyAt()});
    d.tapTimer.ArmAt(TapperDue(&d.tapper));
    // Where a change ended is for trying things out; the daemon's log keeps to what it sends.
    if (!d.input)
        a.news.ended = false;
    char news[256];
    if (FormatNews(a.news, keys.Keys().upName.c_str(), keys.Keys().downName.c_str(), news, sizeof news) &&
        !d.settings.quiet)
        fputs(news, stderr);
}

void Engage(Daemon &d, Decoded lever, int64_t now)
{
    Perform(d, TapperLever(&d.tapper, now, CapGear(lever.gear, d.settings.maxGear), lever.reset), now);
}

void DecodeLever(Daemon &d, int64_t now)
{
    Engage(d, DecodeGate(d.settings.map, ReadSample(d.finder->lever)), now);
}

// The finder, told which node is the program's own keyboard: a reload may have remade it.
LeverFinder &Finder(Daemon &d)
{
    d.finder->ownNode = d.keys->Node();
    return *d.finder;
}

void Found(Daemon &d, LeverFinder::Outcome outcome, int64_t now)
{
    if (outcome == LeverFinder::FAILED)
        Stop(d, "%s", d.finder->error.c_str());
    if (outcome != LeverFinder::FOUND || !Watch(d, d.finder->lever.fd, SRC_LEVER))
        return;
    Status(d, "lever: %s (%s)", d.finder->lever.path.c_str(), d.finder->lever.name.c_str());
    DecodeLever(d, now);
}

void Unplug(Daemon &d, int64_t now)
{
    Perform(d, TapperStop(&d.tapper, now), now);
    d.finder->Lost();
    Status(d, "lever unplugged; waiting for it");
    Found(d, Finder(d).Look(false), now);
}

void OnLever(Daemon &d, uint32_t events, int64_t now)
{
    libevdev *dev = d.finder->lever.dev;
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
            Unplug(d, now);
            return;
        }
        if (ev.type == EV_KEY || (ev.type == EV_ABS && (ev.code == ABS_HAT0X || ev.code == ABS_HAT0Y)))
            dirty = true;
        if (ev.type == EV_SYN && ev.code == SYN_REPORT && dirty && !dropped) {
            DecodeLever(d, now);
            dirty = false;
        }
    }
    if (dropped) {
        Status(d, "lever events dropped; state read again");
        DecodeLever(d, now);
    }
    if (events & (EPOLLHUP | EPOLLERR))
        Unplug(d, now);
}

void OnInput(Daemon &d, int64_t now)
{
    d.input->Read();
    Decoded position;
    while (d.status < 0 && d.input->Next(&position))
        Engage(d, position, now);
    if (d.input->Failed() && d.status < 0)
        d.status = 1;
    // An ended pipe stays readable for ever.
    if (d.input->Done() && d.pollInput)
        epoll_ctl(d.epoll.Get(), EPOLL_CTL_DEL, STDIN_FILENO, nullptr);
}

void Reload(Daemon &d, int64_t now)
{
    Settings fresh;
    std::string error, out;
    if (LoadSettings(d.args, &fresh, &error, &out) >= 0) {
        Fail("settings not reloaded: %s", error.c_str());
        return;
    }
    // Which lever, grabbing it, the output and the mode stay as they were started.
    Settings &s = d.settings;
    if (fresh.output != s.output)
        Fail("the output stays %s until gearvane starts again", s.output == OUTPUT_SHIFTER ? "shifter" : "keyboard");
    fresh.output = s.output;
    fresh.mode = s.mode;
    fresh.device = s.device;
    fresh.grab = s.grab;
    s = fresh;
    TapperSetTiming(&d.tapper, {s.holdMs * 1000LL, s.gapMs * 1000LL});
    // Before the engine is asked again: a new keyboard must be in place, and settled, before
    // a key-down with a new key can go out.
    d.keys->SetKeys(KeysOf(s), now);
    Status(d, "settings reloaded");
    // As a click in the Windows dialog: the lever's position is decoded again at once.
    if (d.finder && d.finder->Attached())
        DecodeLever(d, now);
    else if (d.input)
        Engage(d, d.input->Last(), now);
}

void OnSignals(Daemon &d, int64_t now)
{
    signalfd_siginfo info;
    while (d.status < 0 && read(d.signals.Get(), &info, sizeof info) == sizeof info) {
        if (info.ssi_signo == SIGHUP) {
            Reload(d, now);
            continue;
        }
        // Never leave a key down: let it go, then end.
        Perform(d, TapperStop(&d.tapper, now), now);
        if (d.status < 0)
            d.status = 0;
    }
}

// A status line must never hold a key down or keep a signal out: standard error that stops
// draining (a paused terminal, a pager, a stalled log reader) loses lines instead. A pipe or
// a terminal is opened anew for this, so the shell's own stays blocking; a file is left be.
void NeverWaitOnStderr()
{
    struct stat st;
    if (fstat(STDERR_FILENO, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)))
        return;
    int fd = open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    dup2(fd, STDERR_FILENO);
    close(fd);
}

bool SetUp(Daemon &d)
{
    const Settings &s = d.settings;
    NeverWaitOnStderr();
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    d.signals = Fd(signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    d.epoll = Fd(epoll_create1(EPOLL_CLOEXEC));
    if (d.signals.Get() < 0 || d.epoll.Get() < 0 || !d.tapTimer.Open()) {
        Stop(d, "cannot set up the event loop: %s", strerror(errno));
        return false;
    }
    if (!Watch(d, d.signals.Get(), SRC_SIGNALS) || !Watch(d, d.tapTimer.Get(), SRC_TAP))
        return false;
    TapperStart(&d.tapper, {s.holdMs * 1000LL, s.gapMs * 1000LL});
    int64_t now = Now();

    if (s.mode == MODE_SIMULATE) {
        d.keys = std::make_unique<KeyPrinter>(KeysOf(s), now);
        d.input.emplace();
        if (isatty(STDIN_FILENO))
            fprintf(stderr, "Type a lever position and Enter: 1..7, r (reverse), n (neutral), x (reset). "
                            "Ctrl-D ends.\n");
        // Standard input stays blocking, as it is shared with the shell; it is read only
        // when epoll says it is ready. What epoll refuses (a regular file, /dev/zero) never
        // blocks: it is read a piece a turn, so that signals still get in.
        epoll_event ev = {};
        ev.events = EPOLLIN;
        ev.data.u32 = SRC_STDIN;
        if (epoll_ctl(d.epoll.Get(), EPOLL_CTL_ADD, STDIN_FILENO, &ev) < 0) {
            if (errno != EPERM) {
                Stop(d, "standard input: %s", strerror(errno));
                return false;
            }
            d.pollInput = false;
        }
        return true;
    }

    std::string error;
    if (s.output == OUTPUT_SHIFTER)
        d.keys = Shifter::Create(now, &error);
    else
        d.keys = Keyboard::Create(KeysOf(s), now, &error);
    if (!d.keys) {
        Stop(d, "%s", error.c_str());
        return false;
    }
    d.finder.emplace(s.device, s.grab);
    if (!d.finder->Open(&error)) {
        Stop(d, "%s", error.c_str());
        return false;
    }
    if (!Watch(d, d.finder->WatchFd(), SRC_WATCH) || !Watch(d, d.finder->RetryFd(), SRC_RETRY))
        return false;
    LeverFinder::Outcome outcome = Finder(d).Look(true);
    if (outcome == LeverFinder::NO_CHANGE) {
        std::string nodes;
        for (const std::string &node : d.finder->unreadable)
            nodes += (nodes.empty() ? "" : ", ") + node;
        if (nodes.empty())
            Status(d, "waiting for a lever");
        else
            Status(d, "waiting for a lever; cannot read %s: is the user in the 'input' group?", nodes.c_str());
    }
    Found(d, outcome, now);
    return d.status < 0;
}

bool Finished(const Daemon &d)
{
    return d.status >= 0 || (d.input && d.input->Done() && !TapperBusy(&d.tapper));
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
            epoll_event events[8];
            int n = epoll_wait(d.epoll.Get(), events, 8, readInput ? 0 : -1);
            if (n < 0 && errno != EINTR)
                Stop(d, "epoll_wait: %s", strerror(errno));
            for (int i = 0; i < n && d.status < 0; i++) {
                int64_t now = Now();
                switch (events[i].data.u32) {
                case SRC_LEVER:
                    if (d.finder->Attached())
                        OnLever(d, events[i].events, now);
                    break;
                case SRC_WATCH:
                    Found(d, Finder(d).OnWatch(now), now);
                    break;
                case SRC_RETRY:
                    Found(d, Finder(d).OnRetry(now), now);
                    break;
                case SRC_TAP:
                    d.tapTimer.Drain();
                    Perform(d, TapperTimer(&d.tapper, now), now);
                    break;
                case SRC_STDIN:
                    OnInput(d, now);
                    break;
                case SRC_SIGNALS:
                    OnSignals(d, now);
                    break;
                }
            }
            if (readInput && d.status < 0)
                OnInput(d, Now());
        }
    }
    int status = d.status < 0 ? 0 : d.status;
    if (d.input && d.input->Rejected()) {
        long n = d.input->Rejected();
        Fail("%ld line%s rejected", n, n > 1 ? "s" : "");
        status = status ? status : 1;
    }
    return status;
}
