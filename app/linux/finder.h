// Waiting for the lever: hotplug through inotify on /dev/input and on the folders and links
// of a --device path, retries while udev sets a new node's permissions, and the lock that
// keeps a lever to one gearvane, which --wait-for-lever waits on.
#ifndef GEARVANE_FINDER_H
#define GEARVANE_FINDER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "fd.h"
#include "lever.h"

class LeverFinder {
public:
    enum Outcome {
        NO_CHANGE,
        FOUND,
        FAILED,
        DRIVEN,  // the lever is there, but another gearvane drives it: waiting until it is free
    };

    // `device` as --device gives it; `grab` takes the lever from other programs;
    // `waitWhileDriven` waits for a lever that another gearvane drives rather than fail.
    LeverFinder(const std::string &device, bool grab, bool waitWhileDriven)
        : device(device), grab(grab), waitWhileDriven(waitWhileDriven)
    {
    }

    // Makes its inotify instance and its retry timer; false, with *error, if it cannot.
    bool Open(std::string *error);
    int HotplugFd() const { return hotplug.Get(); }  // readable: call OnHotplug
    int RetryFd() const { return retry.Get(); }      // readable: call OnRetry

    // Watches for the lever and looks for it, at start-up: a --device node that cannot be
    // read fails, as waiting would not help, and so does a lever that another gearvane
    // drives, unless it is to be waited for.
    Outcome Start();
    Outcome OnHotplug(int64_t now);
    Outcome OnRetry(int64_t now);
    // The lever went: it is closed and looked for again, at the link that named it, or else
    // by its name, as a node that comes back may have another number.
    Outcome OnLost();

    bool Attached() const { return lever.IsOpen(); }

    Lever lever;                          // once FOUND: open, and locked for this process
    std::vector<std::string> unreadable;  // after a search: "NODE (NAME)" of the nodes that
                                          // may be the lever but cannot be read
    std::string error;                    // after FAILED: why; after DRIVEN: by whom

private:
    bool AddWatches();
    bool WatchFolder(const std::string &folder, uint32_t mask);
    Outcome SearchAndClaim(bool atStart);
    Outcome Claim(Lever &found, bool atStart, const Lever **taken);
    bool DriverGone();
    void ArmRetry(int64_t now);

    std::string device, lostName;
    bool grab, waitWhileDriven;
    Fd hotplug;
    Timer retry;
    int retriesLeft = 0;
    // While another gearvane drives the lever: its node, open to try its lock now and then.
    Fd driven;
    std::string drivenPath;
};

#endif
