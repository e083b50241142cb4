// Virtual input devices on /dev/uinput, through libevdev: the output side of the daemon, and
// what its virtual keyboard and shifter share.
#ifndef GEARVANE_UINPUT_H
#define GEARVANE_UINPUT_H

#include <memory>
#include <string>

#include "key_output.h"

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

// A key output on a uinput device: which key is down, the time a new device needs before
// anything sent to it counts, and the device gone once a write fails.
class UinputOutput : public KeyOutput {
protected:
    // `what` names the device in the errors ("the virtual keyboard").
    explicit UinputOutput(const char *what) : what(what) {}

    // The desktop or the game opens a new device a moment after it appears, once udev has
    // looked at it: a key sent before that is lost.
    enum { SETTLE_US = 250000 };

    // The key-down of `code`. False before the device has settled, or once it is gone.
    bool PressCode(int code, int64_t now);
    bool Release(int64_t now) override;
    int64_t ReadyAt() const override { return readyAt; }

    Uinput device;
    int down = 0;         // the code of the key that is down
    int64_t readyAt = 0;  // when the device has settled: no key-down before

private:
    bool Write(unsigned type, unsigned code, int value);

    const char *what;
};

#endif
