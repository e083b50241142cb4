/* Finding input devices by name and reading them with monotonic kernel timestamps. */
#include "devices.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

int64_t NowNs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

int64_t EventNs(const struct input_event *ev)
{
    return (int64_t)ev->input_event_sec * 1000000000 + (int64_t)ev->input_event_usec * 1000;
}

int OpenEventNode(const char *path)
{
    int clock = CLOCK_MONOTONIC;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    /* Setting the clock empties the queue: it must come before any state is read, or a
       change made in between goes unseen. */
    if (ioctl(fd, EVIOCSCLOCKID, &clock) < 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

static int NodeNumber(const char *name)
{
    if (strncmp(name, "event", 5) != 0 || !name[5])
        return -1;
    for (const char *p = name + 5; *p; p++)
        if (*p < '0' || *p > '9')
            return -1;
    return atoi(name + 5);
}

int OpenDeviceNamed(const char *name, char *path, size_t size)
{
    DIR *dir = opendir("/dev/input");
    struct dirent *entry;
    int best = -1;
    if (!dir)
        return -1;
    while ((entry = readdir(dir))) {
        int n = NodeNumber(entry->d_name), fd;
        char candidate[64], found[256] = "";
        if (n < 0 || (best >= 0 && n >= best))
            continue;
        snprintf(candidate, sizeof candidate, "/dev/input/event%d", n);
        fd = open(candidate, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (ioctl(fd, EVIOCGNAME(sizeof found - 1), found) >= 0 && strcmp(found, name) == 0)
            best = n;
        close(fd);
    }
    closedir(dir);
    if (best < 0)
        return -1;
    snprintf(path, size, "/dev/input/event%d", best);
    return OpenEventNode(path);
}

int WaitForDeviceNamed(const char *name, char *path, size_t size, int timeoutMs)
{
    int64_t deadline = NowNs() + (int64_t)timeoutMs * 1000000;
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC), fd = -1;
    if (watch >= 0 && inotify_add_watch(watch, "/dev/input", IN_CREATE | IN_ATTRIB) < 0) {
        close(watch);
        watch = -1;
    }
    while ((fd = OpenDeviceNamed(name, path, size)) < 0) {
        int64_t left = (deadline - NowNs()) / 1000000;
        struct pollfd p = {watch, POLLIN, 0};
        char buffer[4096];
        if (left <= 0)
            break;
        /* Without inotify (no /dev/input yet) look again every 50 ms. */
        poll(&p, watch >= 0 ? 1 : 0, watch >= 0 ? (int)left : 50);
        if (watch >= 0)
            while (read(watch, buffer, sizeof buffer) > 0) {
            }
    }
    if (watch >= 0)
        close(watch);
    return fd;
}
