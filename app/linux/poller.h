// The epoll set that a loop sleeps on, and what each descriptor in it is, so that the loop
// can tell whose turn it is when one is ready.
#ifndef GEARVANE_POLLER_H
#define GEARVANE_POLLER_H

#include <stdint.h>

#include "fd.h"

enum Source : uint32_t {
    SRC_LEVER,    // the lever's event node
    SRC_HOTPLUG,  // inotify on /dev/input and the folders of a --device path
    SRC_RETRY,    // the timer that tries a new node again while udev sets its permissions
    SRC_TAP,      // the tap scheduler's timer
    SRC_SIGNALS,  // the signalfd
    SRC_STDIN,    // standard input: --simulate's positions, --learn's Enters
    SRC_TELEMETRY,  // the game's telemetry: 0 its socket, 1 the timer of its status lines
};

struct Ready {
    Source source;
    uint32_t index;   // which one of several of the same source, as given to Watch
    uint32_t events;  // EPOLLIN, EPOLLHUP, EPOLLERR
};

class Poller {
public:
    // False, with errno set, when the epoll instance cannot be made.
    bool Open();
    // Adds `fd` for reading. False, with errno set, when epoll refuses it: EPERM for a
    // regular file or /dev/null, which are always ready.
    bool Watch(int fd, Source source, uint32_t index = 0);
    // Takes `fd` out, as one that stays readable for ever (an ended pipe) would spin the loop.
    void Unwatch(int fd);
    // Sleeps until a descriptor is ready, or for `timeoutMs` (-1: for ever), and fills in up
    // to `max` of them. Returns how many; 0 after the timeout or a signal; -1, with errno
    // set, when epoll fails.
    int Wait(Ready *ready, int max, int timeoutMs);

private:
    Fd epoll;
};

#endif
