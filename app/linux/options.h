// The command line and the config file of gearvane for Linux.
#ifndef GEARVANE_OPTIONS_H
#define GEARVANE_OPTIONS_H

#include <string>
#include <vector>

#include "../../core/gate.h"

enum Mode { MODE_RUN, MODE_LIST_DEVICES, MODE_LEARN, MODE_SIMULATE };

struct Settings {
    Mode mode = MODE_RUN;
    std::string device;  // an event node (a path), a part of a device name, or empty: the first lever
    bool grab = false;
    GateMap map = StandardPlate;
    std::string mapName = "standard";  // standard, nascar or the --gate text
    int maxGear = 6;
    std::string upKey = "KEY_PAGEUP", downKey = "KEY_PAGEDOWN";
    int upCode = 0, downCode = 0;  // their evdev codes
    int holdMs = 40, gapMs = 40;
    bool quiet = false;
    std::string config;  // the config file read, empty if none
};

enum { EXIT_USAGE = 2 };

// Reads the command line `args` (without the program's name) and the config file it names,
// or the default one ($XDG_CONFIG_HOME/gearvane/gearvane.conf) if that exists. The command
// line wins over the file. Returns -1 when the program should run with *settings; otherwise
// the exit status: 0 after --help or --version (printed on `out`), EXIT_USAGE after a usage
// error, whose message is in *error.
int LoadSettings(const std::vector<std::string> &args, Settings *settings, std::string *error, std::string *out);

#endif
