// Values shared by the whole program for the whole run.
#ifndef GEARVANE_STATE_H
#define GEARVANE_STATE_H

#include <stddef.h>
#include <stdint.h>

// Gear numbers: -1 reverse, 0 no gear, 1..7 forward.
enum { GEAR_REVERSE = -1, GEAR_NONE = 0, GEAR_TOP = 7 };

enum { DEBUG_TEXT_SIZE = 10000 };  // terminator included

extern int32_t CurrentGear;  // the gear the game is assumed to be in
extern int32_t WAIT1;        // key hold, in spin iterations
extern int32_t WAIT2;        // pause between two taps, in spin iterations
extern char DebugText[DEBUG_TEXT_SIZE];

// Appends `text` to DebugText, cutting it short rather than overrunning the buffer.
void AppendDebugText(const char *text);

#endif
