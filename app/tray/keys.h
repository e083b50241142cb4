// The shift keys, typed with SendInput by scan code, as a keyboard would.
#ifndef GEARVANE_TRAY_KEYS_H
#define GEARVANE_TRAY_KEYS_H

#include "../../config/scan_codes.h"

#include <windows.h>

// Sends one key event: the scan code (E0 keys flagged extended) with the virtual key
// filled in too, which Wine passes on to programs that read virtual keys. Returns whether
// Windows took it.
bool SendKey(const KeyScan &key, bool down);

// Whether `msg` is one of the key events that SendKey sent. Such keys are for the game: in
// gearvane's own window they would change the control that has the focus.
bool OwnKeyMessage(const MSG &msg);

#endif
