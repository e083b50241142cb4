// Which event device is the lever: what --device names, looked for among the event nodes
// and matched the same way by the daemon, --learn and --list-devices.
#ifndef GEARVANE_LEVER_SEARCH_H
#define GEARVANE_LEVER_SEARCH_H

#include <string>
#include <vector>

#include "lever.h"

// How well a device answers to what --device gives, worst first.
enum Match {
    MATCH_NONE,    // never a lever: no key, no hat, or a gearvane's own device
    MATCH_USABLE,  // --device could name it, but this one does not
    MATCH_NAMED,   // a part of its name, in any case; with no --device, a joystick
    MATCH_EXACT,   // its whole name, in any case, or the node that a path leads to
};

// What matching reads of a device, from the device itself or, when it cannot be opened,
// from sysfs.
struct DeviceTraits {
    std::string name;
    bool joystickButton = false;  // any code IsLeverButton takes
    bool anyKey = false;
    bool hat = false;
};

// What matching reads of an open device.
DeviceTraits TraitsOf(const Lever &lever);

// Whether the device is one that gearvane makes (its virtual keyboard, its virtual
// shifter), this one's or another gearvane's: such a device is never a lever.
bool IsGearvaneDevice(const std::string &name);

// Joystick buttons or a hat: with no --device, the first such device is the lever.
bool LooksLikeJoystick(const DeviceTraits &device);

// How well `device` answers to `wanted`, the value of --device: a path (the caller offers
// only the node it leads to), a name or a part of one, or empty for a joystick. A named
// device needs only a key or a hat, as a DIY box may look like a keyboard.
Match MatchDevice(const DeviceTraits &device, const std::string &wanted);

// Whether --device names the lever by a link (by-id, by-path, a udev rule's) rather than
// by an event node or a name: a link stays with its device, a node number may not.
bool IsDeviceLink(const std::string &wanted);

struct LeverSearch {
    std::vector<Lever> levers;            // open, the best match first; equals in node order
    std::vector<std::string> unreadable;  // "NODE (NAME)" of nodes that cannot be read but may
                                          // be the lever (for no --device: joysticks only)
    int nodes = 0;                        // the event nodes looked at
    int pathError = 0;  // a --device path that exists but cannot be opened: the errno value
};

// Opens every device that answers to `wanted` (see MatchDevice) at least as well as
// `least`: the node a path leads to, or else every event node of /dev/input.
LeverSearch SearchLevers(const std::string &wanted, Match least);

// What to do about an event node that cannot be read, as the end of a message.
extern const char ReadAdvice[];

// Why a --device path that SearchLevers could not open (`error`, its pathError) is no lever.
std::string PathRefusal(const std::string &path, int error);

// What identifies the lever best in a config file: a link that --device gave (`wanted`),
// else the lever's link in `byId` (/dev/input/by-id: its model and, when it has one, its
// serial number), else its name.
std::string LeverIdentifier(const Lever &lever, const std::string &wanted, const char *byId = "/dev/input/by-id");

#endif
