// The settings as the running daemon takes them, reading them again on SIGHUP, and setting
// them in the config file for a client of the control socket.
#ifndef GEARVANE_RELOAD_H
#define GEARVANE_RELOAD_H

#include <string>
#include <utility>
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

// Sets the keys `set` in the config file at `path` ("": there is none), once the whole file
// reads with the command line `args` as at start, and reads the settings again into *fresh as
// ReadSettingsAgain does, but with the `device` and `grab` saved. *changed is false when the
// file holds them already: nothing is saved, and *fresh is as it was. False, with the reason
// in *error, when nothing could be saved, or what was saved cannot be read back.
bool SaveSettings(const std::vector<std::string> &args, const std::string &path,
                  const std::vector<std::pair<std::string, std::string>> &set, const Settings &running,
                  Settings *fresh, bool *changed, std::string *error);

#endif
