// The settings as the running daemon takes them, and reading them again on SIGHUP.
#ifndef GEARVANE_RELOAD_H
#define GEARVANE_RELOAD_H

#include <string>
#include <vector>

#include "../../core/tapper.h"
#include "key_output.h"
#include "options.h"

// The hold, the gap and, with telemetry, how long the game's reports count, in µs, for the
// tap scheduler.
TapTiming TimingOf(const Settings &settings);

// The shift keys, for the key output: the shifter's buttons with output = shifter.
ShiftKeys KeysOf(const Settings &settings);

// Reads the command line `args` and the config file it names again into *fresh. Which lever,
// grabbing it, the output and the mode stay as `running` has them: they cannot change while
// it runs. A different output asked for is warned about on standard error.
// False, with the reason in *error, when the settings cannot be read; *fresh is then as it was.
bool ReadSettingsAgain(const std::vector<std::string> &args, const Settings &running, Settings *fresh,
                       std::string *error);

#endif
