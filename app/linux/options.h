// The command line and the config file of gearvane for Linux.
#ifndef GEARVANE_OPTIONS_H
#define GEARVANE_OPTIONS_H

#include <string>
#include <vector>

#include "../../config/settings.h"

// Reads the command line `args` (without the program's name) and the config file it names,
// or the default one ($XDG_CONFIG_HOME/gearvane/gearvane.conf) if that exists. The command
// line wins over the file. Returns -1 when the program should run with *settings; otherwise
// the exit status: 0 after --help or --version (printed on `out`), EXIT_USAGE after a usage
// error, whose message is in *error. --list-devices and --learn run without a config file
// that cannot be used: then -1 comes with why in *error. With `configText`, that text stands
// for the config file's, as if the file held it.
int LoadSettings(const std::vector<std::string> &args, Settings *settings, std::string *error, std::string *out,
                 const std::string *configText = nullptr);

// The settings' keys that the command line `args` gives, which the config file cannot
// change; a plate or a gate map gives both plate and gate.
std::vector<std::string> CommandLineKeys(const std::vector<std::string> &args);

// The config file that `args` names, else the default one, which need not exist; "" when
// there is none (no HOME).
std::string ConfigPath(const std::vector<std::string> &args);

// The evdev code of a key that --up-key and --down-key may name, or -1: keyboard keys only,
// and none that the desktop takes as a command to power off, sleep or lock.
int KeyboardKeyCode(const std::string &name);

#endif
