// The shift keys by the names people read ("Page Up"), beside the evdev names that the
// config file keeps (KEY_PAGEUP), so that a file still moves between Linux and Windows.
#ifndef GEARVANE_KEY_NAMES_H
#define GEARVANE_KEY_NAMES_H

struct KeyName {
    const char *name;      // the evdev name, as in KEY_PAGEUP
    int code;              // its evdev code, as a Linux keyboard reports it
    const char *readable;  // for people: "Page Up", "Num /", "Left Ctrl"
};

// All keys a shift may be bound to, in the order a list shows them: the navigation keys
// first, then letters, digits, function keys, the keypad, the rest. `*count` gets their
// number.
const KeyName *KeyNames(int *count);

// The key of that evdev name (exact case), or null.
const KeyName *FindKeyName(const char *name);

// The key of that evdev code, or null.
const KeyName *FindKeyCode(int code);

// The readable name of an evdev name; a name the table lacks is given back as it is.
const char *ReadableKey(const char *name);

#endif
