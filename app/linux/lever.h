// The lever: finding it among the event nodes, opening it and reading its state.
#ifndef GEARVANE_LEVER_H
#define GEARVANE_LEVER_H

#include <string>
#include <utility>
#include <vector>

#include "../../core/gate.h"
#include "lever_codes.h"

struct libevdev;

// An open event node and what it has. It closes itself, and moves but is not copied.
struct Lever {
    int fd = -1;
    libevdev *dev = nullptr;
    std::string path, name;
    unsigned vendor = 0, product = 0;
    ButtonNumbers numbers;
    std::vector<int> keys;  // the key codes it has, so that reading its state skips the rest
    bool hasHat = false;

    Lever() = default;
    Lever(Lever &&other) noexcept { *this = std::move(other); }
    Lever &operator=(Lever &&other) noexcept;
    Lever(const Lever &) = delete;
    Lever &operator=(const Lever &) = delete;
    ~Lever();
};

// The event nodes of /dev/input, in number order (event2 before event10).
std::vector<std::string> EventNodes();

// Opens `path` non-blocking, with kernel timestamps on CLOCK_MONOTONIC, and reads what the
// device has. Returns 0, or an errno value (EACCES when the node may not be read).
int OpenLever(const std::string &path, Lever *lever);
// Closes it now rather than when it goes.
void CloseLever(Lever *lever);

// The nodes that may be the lever `device` names: that node if it is a path (and exists),
// otherwise every event node.
std::vector<std::string> CandidateNodes(const std::string &device);

// Whether `lever` is the one `device` names: a path, any case of a part of its name, or,
// when empty, the first device with joystick buttons or a hat. A named device needs only
// a key or a hat, as a DIY box may look like a keyboard. Never a virtual device of gearvane.
bool IsNamedLever(const Lever &lever, const std::string &device);

// The same question for an event node that cannot be opened, answered from what sysfs
// (readable by anyone) says of it. *name gets its name, if sysfs has one.
bool MayBeNamedLever(const std::string &node, const std::string &device, std::string *name);

// Takes the lever for this process alone, for as long as it is open (flock on its node).
// Returns 0, or an errno value: EWOULDBLOCK when another process has it, whose pid goes in
// *holder (0 when it cannot be found out).
int LockLever(const Lever &lever, int *holder);

// The lever's state as libevdev keeps it.
Sample ReadSample(const Lever &lever);

#endif
