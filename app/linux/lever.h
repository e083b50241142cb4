// An open event device as gearvane reads it: its buttons numbered as SDL numbers them, its
// hat, its state through libevdev, and the lock that keeps it to one gearvane.
#ifndef GEARVANE_LEVER_H
#define GEARVANE_LEVER_H

#include <libevdev/libevdev.h>

#include <memory>
#include <string>
#include <vector>

#include "../../core/gate.h"
#include "fd.h"
#include "lever_codes.h"

// An open event node and what it has. It closes itself, and moves but is not copied.
struct Lever {
    struct FreeEvdev {
        void operator()(libevdev *dev) const { libevdev_free(dev); }
    };

    Fd fd;                                     // closed after `dev` is freed: declared first
    std::unique_ptr<libevdev, FreeEvdev> dev;  // reads the node; freeing it leaves the fd open
    std::string path, name;
    unsigned vendor = 0, product = 0;
    ButtonNumbers numbers = {};
    std::vector<int> keys;  // the key codes it has, so that reading its state skips the rest
    bool hasHat = false;

    bool IsOpen() const { return fd.Get() >= 0; }
};

// Opens `path` non-blocking, with kernel timestamps on CLOCK_MONOTONIC, and reads what the
// device has into *lever, which it replaces. Returns 0, or an errno value (EACCES when the
// node may not be read, ENOTTY when it is no event node).
int OpenLever(const std::string &path, Lever *lever);

// Takes the lever for this process alone, for as long as it is open (flock on its node).
// Returns 0, or an errno value: EWOULDBLOCK when another process has it, whose pid goes in
// *holder (0 when it cannot be found out).
int LockLever(const Lever &lever, int *holder);

// The lever's state as libevdev keeps it.
Sample ReadSample(const Lever &lever);

enum LeverRead { LEVER_MOVED, LEVER_QUIET, LEVER_GONE };

// Reads the lever's events up to the end of the next report that changed a button or the hat:
// LEVER_MOVED, with the lever's state now that of that report. LEVER_QUIET once none is
// waiting; LEVER_GONE when the node cannot be read (unplugged). When events were dropped,
// libevdev brings its state up to date, *dropped is set, and the reports from there on are
// read to the end as one, for the caller to read the state once.
LeverRead ReadLeverReport(Lever &lever, bool *dropped);

#endif
