// The shift keys, typed with SendInput by scan code, as a keyboard would: the key output of
// the input thread.
#ifndef GEARVANE_TRAY_KEYS_H
#define GEARVANE_TRAY_KEYS_H

#include <stdint.h>

#include "../../config/scan_codes.h"
#include "../../core/tapper.h"

#include <windows.h>

// How soon a key that Windows refused is tried again, in microseconds.
enum { RETRY_US = 100000 };

struct KeyOutput {
    const KeyScan *up = nullptr, *down = nullptr;  // the keys of a shift up and a shift down
    const KeyScan *pressed = nullptr;     // the key that went down last: its key-up is the same key
    const KeyScan *unreleased = nullptr;  // a key whose key-up Windows refused
};

// Sends the key-up, then the key-down, that `asked` holds, at `now` (microseconds). A key-up is
// always for the key that went down, even when the keys changed since; a key-up that Windows
// refuses is kept to be sent again by SendHeldBack. Returns what went out, for TapperDone.
TapSent SendTaps(KeyOutput *out, const TapActions &asked, int64_t now);

// Sends again a key-up that Windows refused. Returns true when none is left.
bool SendHeldBack(KeyOutput *out);

// Whether `msg` is one of the key events sent here. Such keys are for the game: in
// gearvane's own window they would change the control that has the focus.
bool OwnKeyMessage(const MSG &msg);

// Sends the key-up of any key that is down, from any thread. For a crash: the process ends
// after it.
void ReleaseHeldKey();

#endif
