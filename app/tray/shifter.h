// The input thread: it waits for the lever, the tap timer, the game's telemetry, the window's
// orders and the quit event in one WaitForMultipleObjects, runs the engine and sends the keys
// (or the vJoy shifter's buttons) itself, so that no loop of the window's (a menu, a scroll
// bar, a message box) ever holds a key down. It never touches a window, a file or the device
// list: it drives the lever the window orders and reports what happens through the mailbox.
#ifndef GEARVANE_TRAY_SHIFTER_H
#define GEARVANE_TRAY_SHIFTER_H

#include <windows.h>

#include <string>

#include "handles.h"
#include "mailbox.h"

// A lever that DirectInput does not signal is read this often, in milliseconds.
enum { POLL_MS = 10 };

struct ShifterThread {
    Handle thread;
    Handle quit;
};

// Starts the thread on `box`, whose window is also the one DirectInput ties the lever to.
// Returns false with *error when it cannot (no DirectInput, no timer, no thread).
bool StartShifter(HINSTANCE instance, Mailbox *box, ShifterThread *shifter, std::wstring *error);

// Makes the thread let go of any key and end, and waits for it.
void StopShifter(ShifterThread *shifter);

#endif
