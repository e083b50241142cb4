// The shift keys, typed with SendInput by scan code, as a keyboard would.
#ifndef GEARVANE_TRAY_KEYS_H
#define GEARVANE_TRAY_KEYS_H

#include "../../config/scan_codes.h"

// Sends one key event: the scan code (E0 keys flagged extended) with the virtual key
// filled in too, which Wine passes on to programs that read virtual keys. Returns whether
// Windows took it.
bool SendKey(const KeyScan &key, bool down);

#endif
