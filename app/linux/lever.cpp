// Opening an event node, reading its events and state and locking it, through libevdev.
#include "lever.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

int OpenLever(const std::string &path, Lever *lever)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Before libevdev reads the state: setting the clock later empties the queue, and a
    // move made in between would go unseen until the lever moved again.
    int clock = CLOCK_MONOTONIC;
    if (ioctl(fd, EVIOCSCLOCKID, &clock) < 0) {
        int e = errno;
        close(fd);
        return e;
    }
    libevdev *dev = nullptr;
    int rc = libevdev_new_from_fd(fd, &dev);
    if (rc < 0) {
        close(fd);
        return -rc;
    }
    *lever = Lever();
    lever->fd = Fd(fd);
    lever->dev.reset(dev);
    lever->path = path;
    lever->name = libevdev_get_name(dev) ? libevdev_get_name(dev) : "";
    lever->vendor = libevdev_get_id_vendor(dev);
    lever->product = libevdev_get_id_product(dev);
    NumberButtons([dev](int code) { return libevdev_has_event_code(dev, EV_KEY, code) == 1; }, &lever->numbers);
    for (int code = 0; code < KEY_CNT; code++)
        if (lever->numbers.of[code])
            lever->keys.push_back(code);
    lever->hasHat = libevdev_has_event_code(dev, EV_ABS, ABS_HAT0X) || libevdev_has_event_code(dev, EV_ABS, ABS_HAT0Y);
    return 0;
}

namespace {

// The pid that holds a flock on the file of `fd`, from /proc/locks; 0 if none is found.
int LockHolder(int fd)
{
    struct stat st;
    FILE *locks = fstat(fd, &st) == 0 ? fopen("/proc/locks", "re") : nullptr;
    if (!locks)
        return 0;
    char line[256];
    int holder = 0;
    while (!holder && fgets(line, sizeof line, locks)) {
        int pid;
        unsigned devMajor, devMinor;
        unsigned long inode;
        // "1: FLOCK  ADVISORY  WRITE 1234 00:05:567 0 EOF"; a waiter's line has "->" first.
        if (sscanf(line, "%*d: FLOCK %*s %*s %d %x:%x:%lu", &pid, &devMajor, &devMinor, &inode) == 4 &&
            devMajor == major(st.st_dev) && devMinor == minor(st.st_dev) && inode == st.st_ino)
            holder = pid;
    }
    fclose(locks);
    return holder;
}

}  // namespace

int LockLever(const Lever &lever, int *holder)
{
    *holder = 0;
    // A holder that ends in between leaves no pid behind: then the lock is tried again.
    for (int tries = 0; tries < 3; tries++) {
        if (flock(lever.fd.Get(), LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno != EWOULDBLOCK)
            return errno;
        if ((*holder = LockHolder(lever.fd.Get())) > 0)
            break;
    }
    return EWOULDBLOCK;
}

Sample ReadSample(const Lever &lever)
{
    Sample sample = {};
    for (int code : lever.keys)
        if (libevdev_get_event_value(lever.dev.get(), EV_KEY, code))
            SetButton(&sample, lever.numbers.of[code], true);
    sample.hat = lever.hasHat ? HatAngle(libevdev_get_event_value(lever.dev.get(), EV_ABS, ABS_HAT0X),
                                         libevdev_get_event_value(lever.dev.get(), EV_ABS, ABS_HAT0Y))
                              : HAT_CENTRED;
    return sample;
}

LeverRead ReadLeverReport(Lever &lever, bool *dropped)
{
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    bool moved = false;
    for (;;) {
        input_event ev;
        int rc = libevdev_next_event(lever.dev.get(), flags, &ev);
        if (rc == LIBEVDEV_READ_STATUS_SYNC) {
            // Events were dropped: libevdev brings its state up to date first.
            flags = LIBEVDEV_READ_FLAG_SYNC;
            *dropped = true;
            continue;
        }
        if (rc == -EAGAIN) {
            if (flags == LIBEVDEV_READ_FLAG_SYNC) {
                flags = LIBEVDEV_READ_FLAG_NORMAL;
                continue;
            }
            return LEVER_QUIET;
        }
        if (rc != LIBEVDEV_READ_STATUS_SUCCESS)
            return LEVER_GONE;
        if (ev.type == EV_KEY || (ev.type == EV_ABS && (ev.code == ABS_HAT0X || ev.code == ABS_HAT0Y)))
            moved = true;
        if (ev.type == EV_SYN && ev.code == SYN_REPORT && moved && !*dropped)
            return LEVER_MOVED;
    }
}
