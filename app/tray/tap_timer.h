// The one timer of the holds and gaps: a high-resolution waitable timer, or where Windows
// has none a plain one with the system timer at 1 ms while a change is under way.
#ifndef GEARVANE_TRAY_TAP_TIMER_H
#define GEARVANE_TRAY_TAP_TIMER_H

#include <stdint.h>

#include "handles.h"

struct TapTimer {
    Handle timer;
    bool highResolution = false;
    bool periodHeld = false;  // timeBeginPeriod(1) is in force
};

// Returns false when no waitable timer can be made.
bool CreateTapTimer(TapTimer *t);

// Sets the timer to fire at `due` (microseconds of Now()), or stops it when `due` is -1.
void ArmTapTimer(TapTimer *t, int64_t due, int64_t now);

// Microseconds from an arbitrary start, steady.
int64_t Now();

#endif
