// gearvane for Linux: one epoll loop that reads the lever, decodes its gear and taps the
// shift keys on a virtual keyboard, with timerfd for the holds and gaps. At rest it sleeps.
#include <errno.h>
#include <libevdev/libevdev.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../../core/tapper.h"
#include "keyboard.h"
#include "learn.h"
#include "lever.h"
#include "options.h"

namespace {

enum Source : uint32_t { SRC_LEVER, SRC_WATCH, SRC_RETRY, SRC_TAP, SRC_SIGNALS, SRC_STDIN };

// How often, and how far apart, a node that appeared is tried again while udev may still
// be setting its permissions.
enum { RETRIES = 20, RETRY_MS = 100, KEYBOARD_SETTLE_MS = 250 };

struct Gearvane {
    std::vector<std::string> args;
    Settings settings;
    int epoll = -1, tapTimer = -1, retryTimer = -1, signals = -1, watch = -1;
    int retriesLeft = 0;
    Lever lever;
    bool leverOpen = false;
    std::string lostName;  // the lever that was unplugged, waited for by its name
    bool starting = true;
    Keyboard keyboard;
    bool keyboardStale = false;  // the keys changed: recreate once no key is down
    int pressedCode = 0;  // the key that is down, 0 for none
    std::string pressedName;
    Tapper tapper;
    int64_t start = 0;
    Decoded simulated = {GEAR_NONE, false};
    bool inputDone = false;
    std::string inputLine;
    long inputNumber = 0;
};

int64_t Now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

void Status(const Gearvane &g, const char *format, ...)
{
    if (g.settings.quiet)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
}

void Fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("gearvane: ", stderr);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
}

void Watch(Gearvane &g, int fd, Source source)
{
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.u32 = source;
    epoll_ctl(g.epoll, EPOLL_CTL_ADD, fd, &ev);
}

void ArmAt(int timer, int64_t due)
{
    itimerspec when = {};
    if (due >= 0) {
        when.it_value.tv_sec = due / 1000000;
        when.it_value.tv_nsec = due % 1000000 * 1000;
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
            when.it_value.tv_nsec = 1;  // zero would disarm it
    }
    timerfd_settime(timer, TFD_TIMER_ABSTIME, &when, nullptr);
}

void Drain(int fd)
{
    char buffer[4096];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

// Key events: on the virtual keyboard, or printed by --simulate. A key-up is always for
// the key that went down, even when a reload has changed the keys since.
void SendKeyEvent(Gearvane &g, int32_t direction, bool down, int64_t now)
{
    const Settings &s = g.settings;
    if (down) {
        g.pressedCode = direction > 0 ? s.upCode : s.downCode;
        g.pressedName = direction > 0 ? s.upKey : s.downKey;
    }
    if (s.mode == MODE_SIMULATE) {
        printf("%lld %s %s\n", static_cast<long long>((now - g.start) / 1000), g.pressedName.c_str(),
               down ? "down" : "up");
        fflush(stdout);
    } else {
        SendKey(&g.keyboard, g.pressedCode, down);
    }
    if (!down)
        g.pressedCode = 0;
}

void RecreateKeyboard(Gearvane &g)
{
    Keyboard fresh;
    std::string error;
    if (!CreateKeyboard(g.settings.upCode, g.settings.downCode, &fresh, &error)) {
        Fail("%s; the old keys stay", error.c_str());
        return;
    }
    DestroyKeyboard(&g.keyboard);
    g.keyboard = fresh;
}

// The keys first, then the status lines.
void Perform(Gearvane &g, TapActions a, int64_t now)
{
    if (a.release)
        SendKeyEvent(g, a.release, false, now);
    if (g.keyboardStale && !g.pressedCode && g.settings.mode == MODE_RUN) {
        RecreateKeyboard(g);
        g.keyboardStale = false;
    }
    if (a.press)
        SendKeyEvent(g, a.press, true, now);
    if (a.release || a.press)
        TapperSent(&g.tapper, Now());
    ArmAt(g.tapTimer, TapperDue(&g.tapper));
    char news[256];
    if (g.settings.mode != MODE_SIMULATE)
        a.news.ended = false;
    if (FormatNews(a.news, g.settings.upKey.c_str(), g.settings.downKey.c_str(), news, sizeof news) &&
        !g.settings.quiet)
        fputs(news, stderr);
}

// The lever's decoded state.
void Engage(Gearvane &g, Decoded d)
{
    int64_t now = Now();
    Perform(g, TapperLever(&g.tapper, now, CapGear(d.gear, g.settings.maxGear), d.reset), now);
}

void DecodeLever(Gearvane &g)
{
    Engage(g, DecodeGate(g.settings.map, ReadSample(g.lever)));
}

// Waiting for a lever: inotify on /dev/input (or on /dev until it has an input folder).
void StopWaiting(Gearvane &g)
{
    if (g.watch >= 0)
        close(g.watch);
    g.watch = -1;
    g.retriesLeft = 0;
    ArmAt(g.retryTimer, -1);
}

// After an unplug the lever is waited for by its name: a replugged node may get another number.
bool Wanted(const Gearvane &g, const Lever &lever)
{
    return g.lostName.empty() ? IsNamedLever(lever, g.settings.device) : lever.name == g.lostName;
}

void Attach(Gearvane &g)
{
    StopWaiting(g);
    g.leverOpen = true;
    g.lostName.clear();
    if (g.settings.grab && libevdev_grab(g.lever.dev, LIBEVDEV_GRAB) < 0)
        Fail("cannot grab %s; the game sees the lever too", g.lever.path.c_str());
    Watch(g, g.lever.fd, SRC_LEVER);
    Status(g, "lever: %s (%s)", g.lever.path.c_str(), g.lever.name.c_str());
    DecodeLever(g);
}

// Tries the nodes that may be the lever. Returns 1 when one was attached, -1 after a fatal
// error (a named node that exists but cannot be read, at start-up), 0 otherwise.
int Scan(Gearvane &g, int *unreadable)
{
    const std::string &want = g.settings.device;
    for (const std::string &node : g.lostName.empty() ? CandidateNodes(want) : EventNodes()) {
        if (node == g.keyboard.node)
            continue;
        Lever lever;
        int rc = OpenLever(node, &lever);
        if (rc == EACCES || rc == EPERM) {
            ++*unreadable;
            if (!want.empty() && want[0] == '/' && g.starting) {
                Fail("cannot read %s: %s. Add yourself to the 'input' group (then log in again), or give "
                     "the node to your user with a udev rule",
                     node.c_str(), strerror(rc));
                return -1;
            }
            continue;
        }
        if (rc != 0)
            continue;
        if (Wanted(g, lever)) {
            g.lever = lever;
            Attach(g);
            return 1;
        }
        CloseLever(&lever);
    }
    return 0;
}

// Returns false after a fatal error.
bool StartWaiting(Gearvane &g)
{
    g.watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The watch first and the scan after it, so that no node can appear unseen in between.
    if (inotify_add_watch(g.watch, "/dev/input", IN_CREATE | IN_ATTRIB | IN_MOVED_TO) < 0)
        inotify_add_watch(g.watch, "/dev", IN_CREATE | IN_MOVED_TO);
    Watch(g, g.watch, SRC_WATCH);
    int unreadable = 0;
    int found = Scan(g, &unreadable);
    if (found < 0)
        return false;
    if (found == 0 && g.starting) {
        if (unreadable)
            Status(g, "waiting for a lever (%d event node%s could not be read: is the user in the 'input' group?)",
                   unreadable, unreadable > 1 ? "s" : "");
        else
            Status(g, "waiting for a lever");
    }
    return true;
}

void OnWatch(Gearvane &g, int64_t now)
{
    alignas(inotify_event) char buffer[4096];
    bool look = false, folder = false;
    ssize_t n;
    while ((n = read(g.watch, buffer, sizeof buffer)) > 0) {
        for (char *p = buffer; p < buffer + n;) {
            auto *ev = reinterpret_cast<inotify_event *>(p);
            if (ev->len && strcmp(ev->name, "input") == 0)
                folder = true;
            look = true;
            p += sizeof *ev + ev->len;
        }
    }
    if (folder)
        inotify_add_watch(g.watch, "/dev/input", IN_CREATE | IN_ATTRIB | IN_MOVED_TO);
    int unreadable = 0;
    if (look && Scan(g, &unreadable) == 0) {
        // A new node may not be readable yet: udev sets its permissions a moment later.
        g.retriesLeft = RETRIES;
        ArmAt(g.retryTimer, now + RETRY_MS * 1000);
    }
}

// Returns false after a fatal error.
bool OnRetry(Gearvane &g, int64_t now)
{
    Drain(g.retryTimer);
    if (g.starting) {
        bool started = StartWaiting(g);
        g.starting = false;
        return started;
    }
    int unreadable = 0;
    if (!g.leverOpen && g.watch >= 0 && Scan(g, &unreadable) == 0 && --g.retriesLeft > 0)
        ArmAt(g.retryTimer, now + RETRY_MS * 1000);
    return true;
}

void Unplug(Gearvane &g, int64_t now)
{
    Perform(g, TapperStop(&g.tapper, now), now);
    g.lostName = g.lever.name;
    CloseLever(&g.lever);
    g.leverOpen = false;
    Status(g, "lever unplugged; waiting for it");
    StartWaiting(g);
}

void OnLever(Gearvane &g, uint32_t events, int64_t now)
{
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    bool dirty = false, dropped = false;
    for (;;) {
        input_event ev;
        int rc = libevdev_next_event(g.lever.dev, flags, &ev);
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
            Unplug(g, now);
            return;
        }
        if (ev.type == EV_KEY || (ev.type == EV_ABS && (ev.code == ABS_HAT0X || ev.code == ABS_HAT0Y)))
            dirty = true;
        if (ev.type == EV_SYN && ev.code == SYN_REPORT && dirty && !dropped) {
            DecodeLever(g);
            dirty = false;
        }
    }
    if (dropped) {
        Status(g, "lever events dropped; state read again");
        DecodeLever(g);
    }
    if (events & (EPOLLHUP | EPOLLERR))
        Unplug(g, now);
}

// --simulate: a lever position per line of standard input.
void SimulateLine(Gearvane &g, std::string line)
{
    g.inputNumber++;
    while (!line.empty() && isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    line = first == std::string::npos ? "" : line.substr(first);
    Decoded d;
    if (line.size() == 1 && line[0] >= '1' && line[0] <= '7')
        d = {line[0] - '0', false};
    else if (line == "r" || line == "R")
        d = {GEAR_REVERSE, false};
    else if (line == "n" || line == "N")
        d = {GEAR_NONE, false};
    else if (line == "x" || line == "X")
        d = {GEAR_NONE, true};
    else {
        Fail("line %ld: '%s' is not a lever position (1..7, r, n, or x for reset)", g.inputNumber, line.c_str());
        return;
    }
    g.simulated = d;
    Engage(g, d);
}

void OnInput(Gearvane &g)
{
    char buffer[4096];
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            if (!g.inputLine.empty())
                SimulateLine(g, g.inputLine);
            g.inputLine.clear();
            g.inputDone = true;
            epoll_ctl(g.epoll, EPOLL_CTL_DEL, STDIN_FILENO, nullptr);
        }
        return;
    }
    g.inputLine.append(buffer, n);
    size_t end;
    while ((end = g.inputLine.find('\n')) != std::string::npos) {
        std::string line = g.inputLine.substr(0, end);
        g.inputLine.erase(0, end + 1);
        SimulateLine(g, line);
    }
}

bool Finished(const Gearvane &g)
{
    return g.inputDone && !TapperBusy(&g.tapper);
}

void Reload(Gearvane &g)
{
    Settings fresh;
    std::string error, out;
    if (LoadSettings(g.args, &fresh, &error, &out) >= 0) {
        Fail("settings not reloaded: %s", error.c_str());
        return;
    }
    Settings &s = g.settings;
    bool keys = fresh.upCode != s.upCode || fresh.downCode != s.downCode;
    // Which lever, grabbing it and the mode stay as they were started.
    fresh.mode = s.mode;
    fresh.device = s.device;
    fresh.grab = s.grab;
    s = fresh;
    TapperSetTiming(&g.tapper, {s.holdMs * 1000LL, s.gapMs * 1000LL});
    Status(g, "settings reloaded");
    if (keys && s.mode == MODE_RUN) {
        g.keyboardStale = true;
        if (!g.pressedCode) {
            RecreateKeyboard(g);
            g.keyboardStale = false;
        }
    }
    // As a click in the Windows dialog: the lever's position is decoded again at once.
    if (g.leverOpen)
        DecodeLever(g);
    else if (s.mode == MODE_SIMULATE)
        Engage(g, g.simulated);
}

// Returns the exit status.
int Run(Gearvane &g)
{
    Settings &s = g.settings;
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    g.signals = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    g.epoll = epoll_create1(EPOLL_CLOEXEC);
    g.tapTimer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    g.retryTimer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (g.signals < 0 || g.epoll < 0 || g.tapTimer < 0 || g.retryTimer < 0) {
        Fail("cannot set up the event loop: %s", strerror(errno));
        return 1;
    }
    Watch(g, g.signals, SRC_SIGNALS);
    Watch(g, g.tapTimer, SRC_TAP);
    Watch(g, g.retryTimer, SRC_RETRY);
    TapperStart(&g.tapper, {s.holdMs * 1000LL, s.gapMs * 1000LL});
    g.start = Now();

    if (s.mode == MODE_SIMULATE) {
        if (isatty(STDIN_FILENO))
            fprintf(stderr, "Type a lever position and Enter: 1..7, r (reverse), n (neutral), x (reset). "
                            "Ctrl-D ends.\n");
        epoll_event ev = {};
        ev.events = EPOLLIN;
        ev.data.u32 = SRC_STDIN;
        // Standard input stays blocking, as it is shared with the shell; it is read only
        // when epoll says it is ready. A regular file cannot be polled, and never blocks.
        if (epoll_ctl(g.epoll, EPOLL_CTL_ADD, STDIN_FILENO, &ev) < 0) {
            while (!g.inputDone)
                OnInput(g);
        }
    } else {
        std::string error;
        if (!CreateKeyboard(s.upCode, s.downCode, &g.keyboard, &error)) {
            Fail("%s", error.c_str());
            return 1;
        }
        // The desktop opens a new keyboard a moment after it appears: a lever that is
        // already in gear must not be shifted into before that.
        ArmAt(g.retryTimer, g.start + KEYBOARD_SETTLE_MS * 1000);
    }

    int status = -1;
    while (status < 0 && !(s.mode == MODE_SIMULATE && Finished(g))) {
        epoll_event events[8];
        int n = epoll_wait(g.epoll, events, 8, -1);
        if (n < 0 && errno != EINTR) {
            Fail("epoll_wait: %s", strerror(errno));
            status = 1;
        }
        for (int i = 0; i < n && status < 0; i++) {
            int64_t now = Now();
            switch (events[i].data.u32) {
            case SRC_LEVER:
                if (g.leverOpen)
                    OnLever(g, events[i].events, now);
                break;
            case SRC_WATCH:
                if (g.watch >= 0)
                    OnWatch(g, now);
                break;
            case SRC_RETRY:
                if (!OnRetry(g, now))
                    status = 1;
                break;
            case SRC_TAP:
                Drain(g.tapTimer);
                Perform(g, TapperTimer(&g.tapper, now), now);
                break;
            case SRC_STDIN:
                OnInput(g);
                break;
            case SRC_SIGNALS: {
                signalfd_siginfo info;
                while (read(g.signals, &info, sizeof info) == sizeof info) {
                    if (info.ssi_signo == SIGHUP) {
                        Reload(g);
                    } else {
                        // Never leave a key down: release it, then go.
                        Perform(g, TapperStop(&g.tapper, now), now);
                        status = 0;
                        break;
                    }
                }
                break;
            }
            }
        }
    }
    if (g.leverOpen)
        CloseLever(&g.lever);
    DestroyKeyboard(&g.keyboard);
    return status < 0 ? 0 : status;
}

int ListDevices()
{
    int unreadable = 0;
    for (const std::string &node : EventNodes()) {
        Lever lever;
        int rc = OpenLever(node, &lever);
        if (rc == EACCES || rc == EPERM)
            unreadable++;
        if (rc != 0)
            continue;
        if (IsNamedLever(lever, ""))
            printf("%s\t%s\t%04x:%04x\t%d buttons\t%s\n", node.c_str(), lever.name.c_str(), lever.vendor,
                   lever.product, lever.numbers.count, lever.hasHat ? "hat" : "no hat");
        CloseLever(&lever);
    }
    if (unreadable)
        fprintf(stderr, "%d event node%s could not be read: is the user in the 'input' group?\n", unreadable,
                unreadable > 1 ? "s" : "");
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    Gearvane g;
    g.args.assign(argv + 1, argv + argc);
    std::string error, out;
    int status = LoadSettings(g.args, &g.settings, &error, &out);
    if (status >= 0) {
        fputs(out.c_str(), stdout);
        if (!error.empty())
            Fail("%s (see gearvane --help)", error.c_str());
        return status;
    }
    switch (g.settings.mode) {
    case MODE_LIST_DEVICES:
        return ListDevices();
    case MODE_LEARN:
        return Learn(g.settings);
    default:
        return Run(g);
    }
}
