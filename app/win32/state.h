// Values that the Windows program shares for the whole run.
#ifndef GEARVANE_WIN32_STATE_H
#define GEARVANE_WIN32_STATE_H

#include <stdint.h>

enum { DEBUG_TEXT_SIZE = 10000 };  // terminator included

extern int32_t CurrentGear;  // the gear the game is assumed to be in
extern int32_t WAIT1;        // key hold, in spin iterations
extern int32_t WAIT2;        // pause between two taps, in spin iterations
extern char DebugText[DEBUG_TEXT_SIZE];

// Appends `text` to DebugText, cutting it short rather than overrunning the buffer.
void AppendDebugText(const char *text);

#endif
