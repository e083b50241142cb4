// Where the input thread's shifts go: the keyboard's keys (keys.h) or a vJoy device's buttons
// (vjoy.h). The engine asks for a key-up and a key-down in a direction; each output sends
// them its own way and remembers what went down, so that its key-up is for that key.
#ifndef GEARVANE_TRAY_OUTPUT_H
#define GEARVANE_TRAY_OUTPUT_H

#include <stdint.h>

#include "../../core/tapper.h"

// How soon a key that Windows refused is tried again, in microseconds.
enum { RETRY_US = 100000 };

class ShiftOutput {
public:
    ShiftOutput() = default;
    ShiftOutput(const ShiftOutput &) = delete;
    ShiftOutput &operator=(const ShiftOutput &) = delete;
    virtual ~ShiftOutput() = default;

    // Sends the key-up, then the key-down, that `asked` holds, at `now` (microseconds). A
    // key-up that does not go out is kept to be sent again by SendHeldBack. Returns what went
    // out, for TapperDone.
    TapSent Send(const TapActions &asked, int64_t now);

    // Sends again a key-up that did not go out. Returns true when none is left.
    bool SendHeldBack();

    // Whether a key-up is still to go: a key is down, or its key-up did not go out.
    bool Holding() const { return down || unreleased; }
    bool Unreleased() const { return unreleased != 0; }

protected:
    // The key-down of the shift-up key (`direction` +1) or the shift-down key (-1). Returns
    // the key that went down, as the output numbers its keys from 1, or 0 when none did.
    virtual int Press(int32_t direction) = 0;
    // The key-up of `key`, as Press numbered it. False when it did not go out.
    virtual bool Release(int key) = 0;

private:
    int down = 0;        // the key that went down, until its key-up is asked for
    int unreleased = 0;  // a key whose key-up did not go out
};

#endif
