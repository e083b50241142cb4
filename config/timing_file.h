// The timing file, "shift.ini": two lines that set the key hold and the pause between taps.
#ifndef GEARVANE_TIMING_FILE_H
#define GEARVANE_TIMING_FILE_H

#include <stdint.h>
#include <stdio.h>

#include "../core/platform.h"

// The spin count that a line of the timing file gives: its leading decimal integer in
// the manner of atoi (white space, optional sign, digits), wrapping modulo 2^32 rather
// than clamping, times 1000, again wrapping. No digits give 0.
int32_t SpinCountOf(const char *line);

// Reads the two lines from `file` into WAIT1 and WAIT2 and echoes them into DebugText.
// Each read takes at most 19 characters and keeps its line feed; a read that meets the
// end of the file leaves the previous line in place.
void ReadTimingStream(FILE *file);

// Opens "shift.ini" in the working directory and reads it. When it cannot be opened,
// warns (owned by `dlg`), asks the message loop to quit and returns false.
bool LoadTimingFile(DialogHandle dlg);

#endif
