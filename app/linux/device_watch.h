// The devices that can be levers, for the clients of the control socket: the list, kept up
// to date while clients are connected, and each one's live buttons and hat while a client
// watches them. With no client, none of this is open and nothing here wakes the loop.
#ifndef GEARVANE_DEVICE_WATCH_H
#define GEARVANE_DEVICE_WATCH_H

#include <string>
#include <vector>

#include "control_protocol.h"
#include "fd.h"
#include "lever.h"
#include "poller.h"

// The devices as --list-devices lists them, in its order, then the joysticks that cannot be
// read. `driving`: the node of the lever gearvane drives, or "".
std::vector<DeviceEntry> ListDevices(const std::string &driving);

// What a watched device reports.
struct DeviceInput {
    std::string node;
    Sample sample;
    bool hasHat;
};

class DeviceWatch {
public:
    // Watches /dev/input for nodes that come and go (SRC_DEVICES), or stops. False, with
    // errno set, when inotify cannot be had.
    bool WatchNodes(Poller *poller, bool on);
    // Reads the news of /dev/input; true when a node came or went.
    bool OnNodes();

    // Opens every readable device but `skip` (the lever, whose input comes from its own
    // reader) for its live input, as SRC_DEVICE with its index; the state of each that was
    // not open yet goes in *fresh. Called again, it adds the devices that came since.
    void Open(Poller *poller, const std::string &skip, std::vector<DeviceInput> *fresh);
    // Closes every watched device.
    void Close();
    bool IsOpen() const { return open; }
    // A watched device is ready: true, with its state in *input, when a report changed a
    // button or the hat. A device that went is closed.
    bool OnReady(uint32_t index, DeviceInput *input);

private:
    struct Watched {
        Lever lever;
        Sample shown;
    };
    Fd nodes;
    std::vector<Watched> devices;  // a closed one keeps its place, so that indexes stay
    bool open = false;
};

#endif
