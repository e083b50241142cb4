// Reading "shift.ini".
#include "timing_file.h"

#include <stdio.h>

bool ReadTimingFile(TimingLines *lines)
{
    FILE *file = fopen("shift.ini", "rt ");
    if (!file)
        return false;
    char text[TIMING_TEXT_MAX];
    size_t length = fread(text, 1, sizeof text, file);
    fclose(file);
    SplitTimingText(text, length, lines);
    return true;
}
