// Where the shift keys go: the uinput keyboard or shifter, or the --simulate printer. Each
// owns which key is down, so that a key-up is always for the key that went down, and takes
// new keys only when none is.
#ifndef GEARVANE_KEY_OUTPUT_H
#define GEARVANE_KEY_OUTPUT_H

#include <stdint.h>

#include <string>

#include "../../core/tapper.h"

struct ShiftKeys {
    int up = 0, down = 0;  // evdev codes
    std::string upName, downName;
};

class KeyOutput {
public:
    virtual ~KeyOutput() = default;

    // Sends what the tap scheduler asked for at `now` (µs): the key-up, then the key-down,
    // and says what went out, for TapperDone. A key-down may be refused for now (a new
    // device settling) and is then to be tried at the result's `retry`. Once the output
    // is gone nothing goes out, and Error() says why.
    TapSent Send(const TapActions &actions, int64_t now);
    // The keys from the next key-down on; a key that is down keeps its own key-up.
    virtual void SetKeys(const ShiftKeys &keys, int64_t now) = 0;
    // The keys of the next key-down.
    virtual const ShiftKeys &Keys() const = 0;

    // Why the output is gone; empty while it works.
    const std::string &Error() const { return error; }

protected:
    // The key-down of the shift-up key (`direction` +1) or the shift-down key (-1). False
    // when it did not go out: before ReadyAt(), or because the output is gone.
    virtual bool Press(int32_t direction, int64_t now) = 0;
    // The key-up of the key that is down, if one is. False when the output is gone.
    virtual bool Release(int64_t now) = 0;
    // No key-down goes out before this time (µs).
    virtual int64_t ReadyAt() const { return 0; }

    std::string error;
};

#endif
