/* Scripted lever for the Linux end-to-end tests. It plays a plan: it is a uinput joystick
 * (buttons 1..32 from BTN_TRIGGER on, 33..36 from BTN_TRIGGER_HAPPY1 on, a hat and a wheel
 * axis) whose positions, unplugging and replugging the plan sets; it starts the program
 * under test, signals it and feeds its standard input; and it records, with kernel
 * timestamps, every key event of the keyboard with a given name, plus the program's
 * output lines. The host turns scenario files into plans and reads the log back.
 *
 * Usage: e2e_lever PLAN. The log goes to standard output, one line per event:
 *   TIME step N | key NAME down|up|repeat | keyboard KEY... | keyboard gone | out TEXT |
 *   err TEXT | lever NODE | lev NAME VALUE | moved | spawn PID | exit CODE | killed | ...
 * with TIME in CLOCK_MONOTONIC nanoseconds: the kernel's own stamp for events read from a
 * device, the moment of reading or acting for the rest.
 *
 * Plan lines (a word, then its arguments):
 *   name TEXT | id VENDOR PRODUCT | decoy TEXT | keyboard TEXT | keys UP DOWN | settle MS |
 *   timeout MS | watch-lever | stdout-keys     settings, before `start`
 *   program PATH | arg TEXT | env NAME=VALUE | cwd DIR | input null|pipe | user UID
 *   state BUTTONS HX HY AXIS      the lever at start (BUTTONS: 1,5,33 or -)
 *   absent                        no lever at start
 *   start                         creates the lever (and the decoy); `spawn` starts the program
 *   step N                        marks the start of a step in the log
 *   set BUTTONS HX HY AXIS | unplug | plug | drop BUTTONS HX HY AXIS FOREIGN TOGGLES |
 *   signal NUM | copy SRC DST | chmod MODE PATH|lever | stdin TEXT | eof | pause MS |
 *   sample (the program's costs)
 *   wait count N | wait net N | wait down N | wait up N | wait exit
 *   end                           waits for the program's exit, kills it after `timeout`
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "devices.h"

enum { BUTTONS = 36, MAX_ARGS = 64, MAX_ENV = 16, LINE = 4096 };

typedef struct {
    unsigned long long buttons; /* bit n-1: button n held */
    int hatX, hatY, axis;
} Position;

typedef struct {
    char text[LINE];
    size_t length;
    int fd;
    const char *tag;
} Stream;

/* Settings. */
static char LeverName[256] = "Scripted Lever", DecoyName[256], KeyboardName[256] = "gearvane virtual keyboard";
static char UpKey[64] = "KEY_PAGEUP", DownKey[64] = "KEY_PAGEDOWN";
static int Vendor = 0x1209, Product = 0xa5f1, SettleMs = 300, TimeoutMs = 20000, WatchLever, StdoutKeys;
static char *Args[MAX_ARGS + 1], *Env[MAX_ENV], Cwd[256] = "/", StdinMode[16] = "null";
static int ArgCount, EnvCount, Uid = -1;

/* The lever. */
static struct libevdev *Template, *DecoyTemplate;
static struct libevdev_uinput *Lever, *Decoy;
static Position Current, Initial;
static int LeverPresent = 1, LeverFd = -1;

/* The program under test. */
static pid_t Child;
static int ChildFd = -1, InFd = -1, Running;
static Stream Out = {.fd = -1, .tag = "out"}, Err = {.fd = -1, .tag = "err"};

/* The recorded keyboard and what was seen since the last step. */
static int KeyboardFd = -1, Watch = -1;
static long SinceStep, DownsSinceStep, UpsSinceStep, Net;

static void Log(int64_t t, const char *format, ...)
{
    va_list args;
    printf("%lld ", (long long)t);
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
}

static void Fail(const char *format, ...)
{
    va_list args;
    printf("%lld fatal ", (long long)NowNs());
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
    if (Running)
        kill(-Child, SIGKILL);
    exit(1);
}

static unsigned int ButtonCode(int n)
{
    return n <= 32 ? BTN_TRIGGER + n - 1 : BTN_TRIGGER_HAPPY1 + n - 33;
}

static unsigned long long ParseButtons(const char *text)
{
    unsigned long long mask = 0;
    char copy[256], *save = NULL, *word;
    if (strcmp(text, "-") == 0)
        return 0;
    snprintf(copy, sizeof copy, "%s", text);
    for (word = strtok_r(copy, ",", &save); word; word = strtok_r(NULL, ",", &save)) {
        int n = atoi(word);
        if (n < 1 || n > BUTTONS)
            Fail("button %s out of 1..%d", word, BUTTONS);
        mask |= 1ull << (n - 1);
    }
    return mask;
}

static Position ParsePosition(char **words)
{
    Position p;
    if (!words[0] || !words[1] || !words[2] || !words[3])
        Fail("a position needs BUTTONS HX HY AXIS");
    p.buttons = ParseButtons(words[0]);
    p.hatX = atoi(words[1]);
    p.hatY = atoi(words[2]);
    p.axis = atoi(words[3]);
    return p;
}

static struct libevdev *MakeTemplate(const char *name)
{
    struct libevdev *dev = libevdev_new();
    struct input_absinfo hat = {.minimum = -1, .maximum = 1};
    struct input_absinfo wheel = {.minimum = -32768, .maximum = 32767};
    libevdev_set_name(dev, name);
    libevdev_set_id_bustype(dev, BUS_USB);
    libevdev_set_id_vendor(dev, Vendor);
    libevdev_set_id_product(dev, Product);
    libevdev_enable_event_type(dev, EV_KEY);
    for (int n = 1; n <= BUTTONS; n++)
        libevdev_enable_event_code(dev, EV_KEY, ButtonCode(n), NULL);
    libevdev_enable_event_type(dev, EV_ABS);
    libevdev_enable_event_code(dev, EV_ABS, ABS_X, &wheel);
    libevdev_enable_event_code(dev, EV_ABS, ABS_HAT0X, &hat);
    libevdev_enable_event_code(dev, EV_ABS, ABS_HAT0Y, &hat);
    return dev;
}

static void Emit(struct libevdev_uinput *ui, unsigned int type, unsigned int code, int value)
{
    int rc = libevdev_uinput_write_event(ui, type, code, value);
    if (rc < 0)
        Fail("writing to the lever: %s", strerror(-rc));
}

/* Moves the lever from Current to `to` in one frame. */
static void MoveTo(Position to)
{
    int changed = 0;
    for (int n = 1; n <= BUTTONS; n++) {
        unsigned long long bit = 1ull << (n - 1);
        if ((to.buttons & bit) != (Current.buttons & bit)) {
            Emit(Lever, EV_KEY, ButtonCode(n), (to.buttons & bit) != 0);
            changed = 1;
        }
    }
    if (to.hatX != Current.hatX)
        Emit(Lever, EV_ABS, ABS_HAT0X, to.hatX), changed = 1;
    if (to.hatY != Current.hatY)
        Emit(Lever, EV_ABS, ABS_HAT0Y, to.hatY), changed = 1;
    if (to.axis != Current.axis)
        Emit(Lever, EV_ABS, ABS_X, to.axis), changed = 1;
    if (changed)
        Emit(Lever, EV_SYN, SYN_REPORT, 0);
    Current = to;
}

static void Plug(Position at)
{
    const char *node;
    int rc = libevdev_uinput_create_from_device(Template, LIBEVDEV_UINPUT_OPEN_MANAGED, &Lever);
    if (rc < 0)
        Fail("creating the lever: %s", strerror(-rc));
    node = libevdev_uinput_get_devnode(Lever);
    Log(NowNs(), "lever %s", node ? node : "?");
    if (WatchLever && node) {
        LeverFd = OpenEventNode(node);
        if (LeverFd < 0)
            Fail("opening the lever's own node %s: %s", node, strerror(errno));
    }
    memset(&Current, 0, sizeof Current);
    MoveTo(at);
    LeverPresent = 1;
}

static void Unplug(void)
{
    if (LeverFd >= 0)
        close(LeverFd);
    LeverFd = -1;
    libevdev_uinput_destroy(Lever);
    Lever = NULL;
    LeverPresent = 0;
}

/* --- Recording ---------------------------------------------------------------------- */

static void Count(int down, int up)
{
    SinceStep++;
    DownsSinceStep += down;
    UpsSinceStep += up;
}

/* Logs the keys of the keyboard just opened. */
static void FoundKeyboard(void)
{
    unsigned long bits[KEY_MAX / (8 * sizeof(long)) + 1];
    char line[LINE] = "keyboard";
    memset(bits, 0, sizeof bits);
    ioctl(KeyboardFd, EVIOCGBIT(EV_KEY, sizeof bits), bits);
    for (int code = 0; code < KEY_MAX; code++)
        if (bits[code / (8 * sizeof(long))] >> (code % (8 * sizeof(long))) & 1) {
            const char *name = libevdev_event_code_get_name(EV_KEY, code);
            size_t used = strlen(line);
            if (name)
                snprintf(line + used, sizeof line - used, " %s", name);
            else
                snprintf(line + used, sizeof line - used, " %d", code);
        }
    Log(NowNs(), "%s", line);
    Count(0, 0);
}

static void LookForKeyboard(void)
{
    char path[64];
    if (KeyboardFd >= 0)
        return;
    KeyboardFd = OpenDeviceNamed(KeyboardName, path, sizeof path);
    if (KeyboardFd >= 0)
        FoundKeyboard();
}

/* A node just appeared: the keyboard's first events come at once, so open this one node
   rather than look through them all. */
static void TryKeyboardNode(const char *name)
{
    char path[300], found[256] = "";
    int fd;
    if (KeyboardFd >= 0 || strncmp(name, "event", 5) != 0)
        return;
    snprintf(path, sizeof path, "/dev/input/%s", name);
    fd = OpenEventNode(path);
    if (fd < 0)
        return;
    if (ioctl(fd, EVIOCGNAME(sizeof found - 1), found) >= 0 && strcmp(found, KeyboardName) == 0) {
        KeyboardFd = fd;
        FoundKeyboard();
    } else
        close(fd);
}

static void KeyboardGone(void)
{
    close(KeyboardFd);
    KeyboardFd = -1;
    Log(NowNs(), "keyboard gone");
    Count(0, 0);
    LookForKeyboard();
}

static void ReadKeyboard(void)
{
    struct input_event events[64];
    for (;;) {
        ssize_t n = read(KeyboardFd, events, sizeof events);
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {
            KeyboardGone();
            return;
        }
        for (size_t i = 0; i < (size_t)n / sizeof events[0]; i++) {
            const struct input_event *e = &events[i];
            const char *name;
            if (e->type == EV_SYN && e->code == SYN_DROPPED) {
                Log(EventNs(e), "keyboard-dropped");
                continue;
            }
            if (e->type != EV_KEY)
                continue;
            name = libevdev_event_code_get_name(EV_KEY, e->code);
            name = name ? name : "?";
            Log(EventNs(e), "key %s %s", name, e->value == 1 ? "down" : e->value ? "repeat" : "up");
            Count(e->value == 1, e->value == 0);
            if (e->value == 1)
                Net += strcmp(name, UpKey) == 0 ? 1 : strcmp(name, DownKey) == 0 ? -1 : 0;
        }
    }
}

static void ReadLever(void)
{
    struct input_event events[64];
    ssize_t n;
    while ((n = read(LeverFd, events, sizeof events)) > 0)
        for (size_t i = 0; i < (size_t)n / sizeof events[0]; i++) {
            const struct input_event *e = &events[i];
            if (e->type == EV_KEY || e->type == EV_ABS || (e->type == EV_SYN && e->code == SYN_DROPPED))
                Log(EventNs(e), "lev %s %d", libevdev_event_code_get_name(e->type, e->code), e->value);
        }
}

/* A stdout line of --simulate, "MS KEY down|up", counts as a key event. */
static void CountOutputLine(const char *text)
{
    long ms;
    char key[64], edge[16];
    if (!StdoutKeys || sscanf(text, "%ld %63s %15s", &ms, key, edge) != 3)
        return;
    Count(strcmp(edge, "down") == 0, strcmp(edge, "up") == 0);
    if (strcmp(edge, "down") == 0)
        Net += strcmp(key, UpKey) == 0 ? 1 : strcmp(key, DownKey) == 0 ? -1 : 0;
}

static void ReadStream(Stream *s)
{
    for (;;) {
        ssize_t n = read(s->fd, s->text + s->length, sizeof s->text - 1 - s->length);
        char *newline;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {
            if (s->length) {
                s->text[s->length] = 0;
                Log(NowNs(), "%s %s", s->tag, s->text);
                if (s->tag == Out.tag)
                    CountOutputLine(s->text);
            }
            close(s->fd);
            s->fd = -1;
            s->length = 0;
            return;
        }
        s->length += (size_t)n;
        while ((newline = memchr(s->text, '\n', s->length)) || s->length == sizeof s->text - 1) {
            size_t used = newline ? (size_t)(newline - s->text) + 1 : s->length;
            s->text[used - (newline ? 1 : 0)] = 0;
            Log(NowNs(), "%s %s", s->tag, s->text);
            if (s->tag == Out.tag)
                CountOutputLine(s->text);
            memmove(s->text, s->text + used, s->length - used);
            s->length -= used;
        }
    }
}

static void Reap(void)
{
    int status;
    if (waitpid(Child, &status, 0) != Child)
        return;
    if (WIFEXITED(status))
        Log(NowNs(), "exit %d", WEXITSTATUS(status));
    else
        Log(NowNs(), "signalled %d", WTERMSIG(status));
    close(ChildFd);
    ChildFd = -1;
    Running = 0;
}

/* Handles whatever is ready, waiting at most until `deadline` (ns) for something. */
static void Pump(int64_t deadline)
{
    struct pollfd fds[7];
    int count = 0, waitMs;
    int64_t left = deadline - NowNs();
    char buffer[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
    waitMs = left <= 0 ? 0 : (int)((left + 999999) / 1000000);
    fds[count++] = (struct pollfd){Watch, POLLIN, 0};
    fds[count++] = (struct pollfd){KeyboardFd, POLLIN, 0};
    fds[count++] = (struct pollfd){LeverFd, POLLIN, 0};
    fds[count++] = (struct pollfd){Out.fd, POLLIN, 0};
    fds[count++] = (struct pollfd){Err.fd, POLLIN, 0};
    fds[count++] = (struct pollfd){ChildFd, POLLIN, 0};
    if (poll(fds, count, waitMs) <= 0)
        return;
    if (fds[0].revents) {
        ssize_t n;
        while ((n = read(Watch, buffer, sizeof buffer)) > 0)
            for (char *p = buffer; p < buffer + n;) {
                const struct inotify_event *ev = (const struct inotify_event *)p;
                if (ev->len)
                    TryKeyboardNode(ev->name);
                p += sizeof *ev + ev->len;
            }
    }
    if (fds[1].revents && KeyboardFd >= 0)
        ReadKeyboard();
    if (fds[2].revents && LeverFd >= 0)
        ReadLever();
    if (fds[3].revents && Out.fd >= 0)
        ReadStream(&Out);
    if (fds[4].revents && Err.fd >= 0)
        ReadStream(&Err);
    /* Output first: the program's last lines come before its exit. */
    if (fds[5].revents && ChildFd >= 0) {
        if (Out.fd >= 0)
            ReadStream(&Out);
        if (Err.fd >= 0)
            ReadStream(&Err);
        Reap();
    }
}

static void PumpFor(int ms)
{
    int64_t deadline = NowNs() + (int64_t)ms * 1000000;
    while (NowNs() < deadline)
        Pump(deadline);
}

/* Handles everything already waiting, without blocking. */
static void Drain(void)
{
    for (int i = 0; i < 1000; i++) {
        long before = SinceStep;
        Pump(0);
        if (SinceStep == before)
            break;
    }
    Pump(0);
}

/* --- The program under test ---------------------------------------------------------- */

static void Spawn(void)
{
    int in[2] = {-1, -1}, out[2], err[2];
    if (!ArgCount)
        Fail("spawn without a program");
    if (strcmp(StdinMode, "pipe") == 0 && pipe2(in, O_CLOEXEC) < 0)
        Fail("pipe: %s", strerror(errno));
    if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0)
        Fail("pipe: %s", strerror(errno));
    Child = fork();
    if (Child < 0)
        Fail("fork: %s", strerror(errno));
    if (Child == 0) {
        int null = open("/dev/null", O_RDONLY);
        setpgid(0, 0);
        dup2(in[0] >= 0 ? in[0] : null, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (chdir(Cwd) < 0)
            _exit(126);
        for (int i = 0; i < EnvCount; i++)
            putenv(Env[i]);
        if (Uid >= 0 && (setgid((gid_t)Uid) < 0 || setuid((uid_t)Uid) < 0))
            _exit(126);
        signal(SIGPIPE, SIG_DFL);
        execv(Args[0], Args);
        dprintf(2, "e2e_lever: cannot run %s: %s\n", Args[0], strerror(errno));
        _exit(127);
    }
    setpgid(Child, Child);
    Running = 1;
    ChildFd = (int)syscall(SYS_pidfd_open, Child, 0);
    if (ChildFd < 0)
        Fail("pidfd_open: %s", strerror(errno));
    close(out[1]);
    close(err[1]);
    Out.fd = out[0];
    Err.fd = err[0];
    fcntl(Out.fd, F_SETFL, O_NONBLOCK);
    fcntl(Err.fd, F_SETFL, O_NONBLOCK);
    if (in[0] >= 0) {
        close(in[0]);
        InFd = in[1];
    }
    Log(NowNs(), "spawn %d", (int)Child);
}

static void End(void)
{
    int64_t deadline = NowNs() + (int64_t)TimeoutMs * 1000000;
    while (Running && NowNs() < deadline)
        Pump(deadline);
    if (Running) {
        Log(NowNs(), "killed");
        kill(-Child, SIGKILL);
        while (Running)
            Pump(NowNs() + 1000000000);
    }
    /* Whatever the program started goes with it. */
    kill(-Child, SIGKILL);
    /* The keyboard goes away after the exit. */
    PumpFor(SettleMs);
    deadline = NowNs() + 2000000000;
    while ((Out.fd >= 0 || Err.fd >= 0) && NowNs() < deadline)
        Pump(deadline);
    if (Out.fd >= 0)
        close(Out.fd);
    if (Err.fd >= 0)
        close(Err.fd);
    Out.fd = Err.fd = -1;
    Out.length = Err.length = 0;
    if (InFd >= 0)
        close(InFd);
    InFd = -1;
    /* The next program brings its own arguments; the environment stays. */
    for (int i = 0; i < ArgCount; i++)
        free(Args[i]);
    ArgCount = 0;
    Args[0] = NULL;
}

/* Waits until the program is really stopped, so that the burst overflows its queue. */
static void StopChild(void)
{
    char path[64], text[512];
    kill(Child, SIGSTOP);
    snprintf(path, sizeof path, "/proc/%d/stat", (int)Child);
    for (int i = 0; i < 2000; i++) {
        FILE *f = fopen(path, "r");
        char *close_paren;
        size_t n = f ? fread(text, 1, sizeof text - 1, f) : 0;
        if (f)
            fclose(f);
        text[n] = 0;
        close_paren = strrchr(text, ')');
        if (close_paren && close_paren[1] == ' ' && close_paren[2] == 'T')
            return;
        usleep(1000);
    }
    Fail("the program did not stop");
}

/* Reads a whole small /proc file into `text`; returns its length, 0 when unreadable. */
static size_t ReadSmallFile(const char *path, char *text, size_t size)
{
    FILE *f = fopen(path, "r");
    size_t n = f ? fread(text, 1, size - 1, f) : 0;
    if (f)
        fclose(f);
    text[n] = 0;
    return n;
}

static long long StatusField(const char *text, const char *name)
{
    const char *at = strstr(text, name);
    return at ? atoll(at + strlen(name)) : 0;
}

/* Logs what each process of the program's group has cost so far: CPU time on the
   scheduler's clock, context switches of all its threads, and resident memory. */
static void Sample(void)
{
    DIR *proc = opendir("/proc");
    struct dirent *entry;
    while (proc && (entry = readdir(proc))) {
        char path[300], text[4096], *paren;
        long long runNs = 0, voluntary = 0, involuntary = 0, rssKb;
        int pid = atoi(entry->d_name), group;
        DIR *tasks;
        struct dirent *task;
        if (pid <= 0)
            continue;
        snprintf(path, sizeof path, "/proc/%d/stat", pid);
        if (!ReadSmallFile(path, text, sizeof text) || !(paren = strrchr(text, ')')))
            continue;
        if (sscanf(paren + 2, "%*c %*d %d", &group) != 1 || group != Child)
            continue;
        /* Walked from the page tables: the status counters lag for small processes. */
        snprintf(path, sizeof path, "/proc/%d/smaps_rollup", pid);
        ReadSmallFile(path, text, sizeof text);
        rssKb = StatusField(text, "\nRss:");
        snprintf(path, sizeof path, "/proc/%d/task", pid);
        tasks = opendir(path);
        while (tasks && (task = readdir(tasks))) {
            if (task->d_name[0] == '.')
                continue;
            snprintf(path, sizeof path, "/proc/%d/task/%s/status", pid, task->d_name);
            ReadSmallFile(path, text, sizeof text);
            voluntary += StatusField(text, "\nvoluntary_ctxt_switches:");
            involuntary += StatusField(text, "nonvoluntary_ctxt_switches:");
            snprintf(path, sizeof path, "/proc/%d/task/%s/schedstat", pid, task->d_name);
            ReadSmallFile(path, text, sizeof text);
            runNs += atoll(text);
        }
        if (tasks)
            closedir(tasks);
        Log(NowNs(), "sample %d run-ns %lld voluntary %lld involuntary %lld rss-kb %lld", pid, runNs, voluntary,
            involuntary, rssKb);
    }
    if (proc)
        closedir(proc);
}

/* --- Waiting ------------------------------------------------------------------------- */

static int Reached(const char *what, long n)
{
    if (strcmp(what, "count") == 0)
        return SinceStep >= n;
    if (strcmp(what, "net") == 0)
        return Net == n;
    if (strcmp(what, "down") == 0)
        return DownsSinceStep >= n;
    if (strcmp(what, "up") == 0)
        return UpsSinceStep >= n;
    if (strcmp(what, "exit") == 0)
        return !Running;
    Fail("unknown wait: %s", what);
    return 1;
}

static void Wait(const char *what, long n)
{
    int64_t deadline = NowNs() + (int64_t)TimeoutMs * 1000000;
    int settle = strcmp(what, "count") == 0 || strcmp(what, "net") == 0;
    while (!Reached(what, n)) {
        /* Once the program has gone, only its keyboard's removal can still come. */
        if (!Running && Out.fd < 0 && Err.fd < 0 && KeyboardFd < 0)
            break;
        if (NowNs() >= deadline) {
            Log(NowNs(), "timeout %s %ld", what, n);
            /* The run has gone wrong already: what is left only needs to end soon. */
            if (TimeoutMs > 1000)
                TimeoutMs = 1000;
            break;
        }
        Pump(deadline);
    }
    if (settle)
        PumpFor(SettleMs);
}

/* --- The plan ------------------------------------------------------------------------ */

static char *Rest(char *line, int words)
{
    char *p = line;
    for (int i = 0; i < words; i++) {
        p += strcspn(p, " ");
        p += strspn(p, " ");
    }
    return p;
}

static void CopyFile(const char *from, const char *to)
{
    char buffer[8192];
    ssize_t n;
    int in = open(from, O_RDONLY), out;
    if (in < 0)
        Fail("copy: %s: %s", from, strerror(errno));
    /* Written whole under a new name, then renamed, as an editor saves. */
    char temporary[512];
    snprintf(temporary, sizeof temporary, "%s.new", to);
    out = open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0)
        Fail("copy: %s: %s", temporary, strerror(errno));
    while ((n = read(in, buffer, sizeof buffer)) > 0)
        if (write(out, buffer, (size_t)n) != n)
            Fail("copy: %s", strerror(errno));
    close(in);
    close(out);
    if (rename(temporary, to) < 0)
        Fail("copy: %s", strerror(errno));
}

static void Run(char *line)
{
    char *words[16] = {0}, copy[LINE];
    int count = 0;
    snprintf(copy, sizeof copy, "%s", line);
    for (char *save = NULL, *w = strtok_r(copy, " ", &save); w && count < 15; w = strtok_r(NULL, " ", &save))
        words[count++] = w;
    if (!count || words[0][0] == '#')
        return;
    const char *c = words[0];
    if (strcmp(c, "name") == 0)
        snprintf(LeverName, sizeof LeverName, "%s", Rest(line, 1));
    else if (strcmp(c, "decoy") == 0)
        snprintf(DecoyName, sizeof DecoyName, "%s", Rest(line, 1));
    else if (strcmp(c, "id") == 0)
        Vendor = (int)strtol(words[1], NULL, 16), Product = (int)strtol(words[2], NULL, 16);
    else if (strcmp(c, "keyboard") == 0)
        snprintf(KeyboardName, sizeof KeyboardName, "%s", Rest(line, 1));
    else if (strcmp(c, "keys") == 0)
        snprintf(UpKey, sizeof UpKey, "%s", words[1]), snprintf(DownKey, sizeof DownKey, "%s", words[2]);
    else if (strcmp(c, "settle") == 0)
        SettleMs = atoi(words[1]);
    else if (strcmp(c, "timeout") == 0)
        TimeoutMs = atoi(words[1]);
    else if (strcmp(c, "watch-lever") == 0)
        WatchLever = 1;
    else if (strcmp(c, "stdout-keys") == 0)
        StdoutKeys = 1;
    else if (strcmp(c, "program") == 0 || strcmp(c, "arg") == 0) {
        if (strcmp(c, "program") == 0)
            ArgCount = 0;
        if (ArgCount == MAX_ARGS)
            Fail("too many arguments");
        Args[ArgCount++] = strdup(Rest(line, 1));
        Args[ArgCount] = NULL;
    } else if (strcmp(c, "env") == 0 && EnvCount < MAX_ENV)
        Env[EnvCount++] = strdup(Rest(line, 1));
    else if (strcmp(c, "cwd") == 0)
        snprintf(Cwd, sizeof Cwd, "%s", Rest(line, 1));
    else if (strcmp(c, "input") == 0)
        snprintf(StdinMode, sizeof StdinMode, "%s", words[1]);
    else if (strcmp(c, "user") == 0)
        Uid = atoi(words[1]);
    else if (strcmp(c, "state") == 0)
        Initial = ParsePosition(words + 1);
    else if (strcmp(c, "absent") == 0)
        LeverPresent = 0;
    else if (strcmp(c, "start") == 0) {
        Template = MakeTemplate(LeverName);
        if (DecoyName[0]) {
            DecoyTemplate = MakeTemplate(DecoyName);
            if (libevdev_uinput_create_from_device(DecoyTemplate, LIBEVDEV_UINPUT_OPEN_MANAGED, &Decoy) < 0)
                Fail("creating the decoy");
            Log(NowNs(), "decoy %s", libevdev_uinput_get_devnode(Decoy));
        }
        if (LeverPresent)
            Plug(Initial);
        else
            Current = Initial;
    } else if (strcmp(c, "spawn") == 0)
        Spawn();
    else if (strcmp(c, "step") == 0) {
        Drain();
        Log(NowNs(), "step %s", words[1]);
        SinceStep = DownsSinceStep = UpsSinceStep = 0;
    } else if (strcmp(c, "set") == 0) {
        Position to = ParsePosition(words + 1);
        int64_t before = NowNs();
        if (LeverPresent) {
            MoveTo(to);
            /* The moment of the write: where the lever's own events cannot be read (a
               grab), it stands in for their timestamp. */
            Log(before, "moved");
        } else
            Current = to;
    } else if (strcmp(c, "unplug") == 0)
        Unplug();
    else if (strcmp(c, "plug") == 0)
        Plug(count > 4 ? ParsePosition(words + 1) : Current);
    else if (strcmp(c, "drop") == 0) {
        Position to = ParsePosition(words + 1);
        int foreign = atoi(words[5]), toggles = atoi(words[6]);
        StopChild();
        MoveTo(to);
        for (int i = 0; i < toggles; i++) {
            Emit(Lever, EV_KEY, ButtonCode(foreign), 1);
            Emit(Lever, EV_SYN, SYN_REPORT, 0);
            Emit(Lever, EV_KEY, ButtonCode(foreign), 0);
            Emit(Lever, EV_SYN, SYN_REPORT, 0);
        }
        Log(NowNs(), "burst %d", toggles);
        kill(Child, SIGCONT);
    } else if (strcmp(c, "signal") == 0) {
        if (Running)
            kill(Child, atoi(words[1]));
    } else if (strcmp(c, "copy") == 0)
        CopyFile(words[1], words[2]);
    else if (strcmp(c, "chmod") == 0) {
        /* "lever" is the lever's node: udev on a desktop sets its permissions late. */
        const char *path = strcmp(words[2], "lever") == 0 && Lever ? libevdev_uinput_get_devnode(Lever) : words[2];
        if (!path || chmod(path, (mode_t)strtol(words[1], NULL, 8)) < 0)
            Fail("chmod %s %s: %s", words[1], words[2], strerror(errno));
    }
    else if (strcmp(c, "stdin") == 0) {
        char text[LINE];
        int n = snprintf(text, sizeof text, "%s\n", Rest(line, 1));
        if (InFd < 0 || write(InFd, text, (size_t)n) != n)
            Log(NowNs(), "stdin-failed");
    } else if (strcmp(c, "eof") == 0) {
        if (InFd >= 0)
            close(InFd);
        InFd = -1;
    } else if (strcmp(c, "pause") == 0)
        PumpFor(atoi(words[1]));
    else if (strcmp(c, "sample") == 0)
        Sample();
    else if (strcmp(c, "wait") == 0)
        Wait(words[1], count > 2 ? atol(words[2]) : 0);
    else if (strcmp(c, "end") == 0)
        End();
    else
        Fail("unknown plan line: %s", line);
}

int main(int argc, char **argv)
{
    char line[LINE];
    FILE *plan;
    if (argc != 2) {
        fprintf(stderr, "usage: e2e_lever PLAN\n");
        return 2;
    }
    plan = fopen(argv[1], "r");
    if (!plan) {
        fprintf(stderr, "e2e_lever: %s: %s\n", argv[1], strerror(errno));
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    Watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (Watch < 0 || inotify_add_watch(Watch, "/dev/input", IN_CREATE | IN_ATTRIB) < 0)
        Fail("inotify on /dev/input: %s", strerror(errno));
    LookForKeyboard();
    while (fgets(line, sizeof line, plan)) {
        line[strcspn(line, "\n")] = 0;
        Run(line);
    }
    if (Running)
        End();
    if (Lever)
        Unplug();
    if (Decoy)
        libevdev_uinput_destroy(Decoy);
    Log(NowNs(), "done");
    return 0;
}
