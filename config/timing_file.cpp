// Timing file reader.
#include "timing_file.h"

#include "../core/state.h"

int32_t SpinCountOf(const char *line)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(line);
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    // Unsigned, so that out-of-range numbers wrap instead of overflowing.
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9')
        value = value * 10u + (*p++ - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value * 1000u);
}

void ReadTimingStream(FILE *file)
{
    char line[20] = "";

    AppendDebugText("Ini file read \n");

    // At the end of the file fgets leaves the buffer as it was: a missing line
    // repeats the one before.
    if (!fgets(line, sizeof line, file))
        line[sizeof line - 1] = '\0';
    AppendDebugText("WAIT1= ");
    AppendDebugText(line);
    WAIT1 = SpinCountOf(line);

    if (!fgets(line, sizeof line, file))
        line[sizeof line - 1] = '\0';
    AppendDebugText("WAIT2= ");
    AppendDebugText(line);
    AppendDebugText("\n");
    WAIT2 = SpinCountOf(line);
}

bool LoadTimingFile(DialogHandle dlg)
{
    // Text mode, so that a CR before LF is dropped on the target.
    FILE *file = fopen("shift.ini", "rt ");
    if (!file) {
        ShowWarning(dlg, "Couldn't open shift.ini");
        RequestQuit();
        return false;
    }
    ReadTimingStream(file);
    fclose(file);
    return true;
}
