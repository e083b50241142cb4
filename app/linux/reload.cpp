// Settings read again while the daemon runs.
#include "reload.h"

#include "say.h"
#include "shifter.h"

TapTiming TimingOf(const Settings &s)
{
    return TimingOf(s, 1000);
}

ShiftKeys KeysOf(const Settings &s)
{
    return s.output == OUTPUT_SHIFTER ? ShifterButtons : ShiftKeys{s.upCode, s.downCode, s.upKey, s.downKey};
}

bool ReadSettingsAgain(const std::vector<std::string> &args, const Settings &running, Settings *fresh,
                       std::string *error)
{
    Settings read;
    std::string out;
    if (LoadSettings(args, &read, error, &out) >= 0)
        return false;
    if (read.output != running.output)
        PrintError("the output stays %s until gearvane starts again",
                   running.output == OUTPUT_SHIFTER ? "shifter" : "keyboard");
    read.output = running.output;
    read.mode = running.mode;
    read.device = running.device;
    read.grab = running.grab;
    *fresh = read;
    return true;
}
