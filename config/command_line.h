// The command line of gearvane's front ends: the shared setting options, --config, --help and
// --version, plus each front end's own options. CLI11 stays inside command_line.cpp.
#ifndef GEARVANE_COMMAND_LINE_H
#define GEARVANE_COMMAND_LINE_H

#include <string>
#include <utility>
#include <vector>

#include "settings.h"

struct Program {
    const char *name;           // "gearvane"
    const char *description;    // the first line of --help
    const char *version;        // what --version prints: "gearvane 0.3.0"
    const char *defaultConfig;  // where the config file is without --config, for --help
    bool windows = false;       // --help lists only what means something on Windows
};

// An option of one front end only.
struct OwnOption {
    const char *name;                  // "--learn"
    const char *valueName;             // "FILE" when it takes a value; nullptr for a flag
    const char *help;
    const char *settingKey = nullptr;  // a config key that this flag sets too ("grab")
};

struct CommandLine {
    std::vector<SettingValue> settings;  // the setting options given, for JoinSettings
    std::vector<std::pair<std::string, std::string>> given;  // every option given: name, value ("" for a flag)
};

// Reads `args` (without the program's name). Returns -1 when the program should go on with
// *line; 0 after --help or --version, with the text to print in *out; EXIT_USAGE after a
// usage error, with the message in *error. A repeated option takes its last value.
int ParseCommandLine(const std::vector<std::string> &args, const Program &program, const std::vector<OwnOption> &own,
                     CommandLine *line, std::string *out, std::string *error);

bool Given(const CommandLine &line, const std::string &option);

// The value of an option given (the last one), or "" when it was not given.
std::string GivenValue(const CommandLine &line, const std::string &option);

#endif
