// Reading "shift.ini" from the working directory.
#ifndef GEARVANE_TIMING_FILE_H
#define GEARVANE_TIMING_FILE_H

#include "../../config/timing.h"

// Opens "shift.ini" in text mode (so that a CR before a LF is dropped), reads its two
// lines and closes it again. False when it cannot be opened.
bool ReadTimingFile(TimingLines *lines);

#endif
