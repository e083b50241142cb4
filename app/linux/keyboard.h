// The virtual keyboard that types the shift keys: a uinput device with those two keys only.
#ifndef GEARVANE_KEYBOARD_H
#define GEARVANE_KEYBOARD_H

#include <string>

struct libevdev;
struct libevdev_uinput;

struct Keyboard {
    libevdev *dev = nullptr;
    libevdev_uinput *uinput = nullptr;
    int fd = -1;
    std::string node;  // its own event node, which the search for the lever skips
};

// Creates "gearvane virtual keyboard" with keys `up` and `down`. On failure returns false
// and says in *error what failed and how to fix it.
bool CreateKeyboard(int up, int down, Keyboard *keyboard, std::string *error);
void DestroyKeyboard(Keyboard *keyboard);

// One key event and its SYN_REPORT.
void SendKey(Keyboard *keyboard, int code, bool down);

#endif
