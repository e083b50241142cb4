// A recording fake of the platform services, for driving the core in tests.
#ifndef GEARVANE_FAKE_PLATFORM_H
#define GEARVANE_FAKE_PLATFORM_H

#include <string>
#include <vector>

#include "core/platform.h"

// The dialog handle the tests pass; the fake only checks it comes back unchanged.
extern const DialogHandle FakeDialog;

struct FakeController {
    unsigned buttons = 0;
    unsigned pov = 65535;
    bool failing = false;  // a failing poll still writes a gate position, as a trap
};
extern FakeController Fake;

// Radio states by control id; the value is what the dialog would report
// (0 unchecked, 1 checked, 2 indeterminate).
void SetRadio(int id, int state);
// Checks one radio of a group and clears the others, as a click would.
void ClickRadio(int id);

// Everything the core asked of the platform since the last call, one line each:
// "PgUp down", "spin 50000", "text ' '", "warning 'x'", "quit". Spins are seen through
// the spin's own counter; a key event whose scan code was not looked up just for it
// shows as "... STALE SCAN".
std::vector<std::string> TakeLog();

// Clears the log, the controller, the radios and the shared values, and selects the
// start-up defaults: Standard plate, maximum gear 6.
void ResetFake();

#endif
