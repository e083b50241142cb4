// Virtual input devices on /dev/uinput, through libevdev: the output side of the daemon.
#ifndef GEARVANE_UINPUT_H
#define GEARVANE_UINPUT_H

#include <memory>
#include <string>

struct libevdev;
struct libevdev_uinput;

// Destroys a uinput device, then closes the /dev/uinput descriptor it was made on.
struct DestroyUinput {
    void operator()(libevdev_uinput *uinput) const;
};
using Uinput = std::unique_ptr<libevdev_uinput, DestroyUinput>;

// A new uinput device with the name, ids and events of `dev`. Null on failure, with *error
// saying what failed and how to fix it; `what` names the device there ("the virtual
// keyboard").
Uinput CreateUinput(const libevdev *dev, const char *what, std::string *error);

// Writes one event, again at once if a signal or a full queue got in its way. Returns 0 or
// a negative errno value.
int WriteUinput(libevdev_uinput *uinput, unsigned type, unsigned code, int value);

#endif
