// Keyboard keys by their Linux evdev names (KEY_PAGEUP), as a Windows program sends them:
// the set-1 scan code, whether it carries the E0 prefix, and the virtual-key code.
#ifndef GEARVANE_SCAN_CODES_H
#define GEARVANE_SCAN_CODES_H

#include <stdint.h>

struct KeyScan {
    const char *name;  // the evdev name, as in KEY_PAGEUP
    uint8_t scan;      // set-1 make code, without the E0
    bool extended;     // sent with E0 first: without it Page Up arrives as numpad 9
    uint8_t vk;        // the Windows virtual-key code, for programs that read only that
};

// The key named `name` (exact case), or null when it is not a key that can be sent as a
// shift key. System keys (the Windows keys, Print Screen, Pause, media keys) are left out.
const KeyScan *FindKeyScan(const char *name);

// The key that a keyboard reports as `scan` (set 1, without the E0) and `extended` (E0
// first), or null when it is not a key that can be sent as a shift key.
const KeyScan *FindKeyByScan(uint8_t scan, bool extended);

// All keys of the table, for listing them; `*count` gets their number.
const KeyScan *KeyScans(int *count);

#endif
