// Finding the lever and waiting for it: the event nodes, hotplug through inotify, retries
// while udev sets a new node's permissions, and the folders and links of a --device path.
#ifndef GEARVANE_FINDER_H
#define GEARVANE_FINDER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "fd.h"
#include "lever.h"

class LeverFinder {
public:
    enum Outcome { NO_CHANGE, FOUND, FAILED };

    // `device` as --device gives it; `grab` takes the lever from other programs.
    LeverFinder(const std::string &device, bool grab) : device(device), grab(grab) {}

    // Makes its inotify instance and its retry timer; false, with *error, if it cannot.
    bool Open(std::string *error);
    int WatchFd() const { return watch.Get(); }  // readable: call OnWatch
    int RetryFd() const { return retry.Get(); }  // readable: call OnRetry

    // Watches for the lever, then looks for it. At start-up (`first`) a node named by its
    // path that may not be read fails: waiting would not change that.
    Outcome Look(bool first);
    Outcome OnWatch(int64_t now);
    Outcome OnRetry(int64_t now);
    // The lever went: it is closed, and waited for at the link that named it, or else by
    // its name, as a node that comes back may have another number.
    void Lost();

    bool Attached() const { return lever.fd >= 0; }

    Lever lever;                          // once FOUND: open, and locked for this process
    std::string ownNode;                  // the program's own keyboard, never tried
    std::vector<std::string> unreadable;  // after a look: "NODE (NAME)" of the nodes that may
                                          // be the lever but cannot be read
    std::string error;                    // after FAILED: why

private:
    bool AddWatches();
    bool WatchFolder(const std::string &folder, uint32_t mask);
    Outcome Scan(bool first);
    Outcome Take(Lever &found, bool first);

    std::string device, lostName;
    bool grab;
    Fd watch;
    Timer retry;
    int retriesLeft = 0;
};

#endif
