// Options of gearvane for Linux: the shared command line and settings, its own flags, where
// its config file is, and which evdev keys may be sent.
#include "options.h"

#include <errno.h>
#include <libevdev/libevdev.h>
#include <stdlib.h>

#include "../../config/command_line.h"
#include "../../config/config_file.h"
#include "../../config/text.h"

namespace {

const Program Gearvane = {"gearvane", "Drive a game's sequential shift keys with an H-pattern gear lever.",
                          "gearvane " GEARVANE_VERSION, "$XDG_CONFIG_HOME/gearvane/gearvane.conf"};

const std::vector<OwnOption> LinuxOptions = {
    {"--grab", nullptr,
     "Take the lever for gearvane alone (EVIOCGRAB). Only for a dedicated lever: a wheel's built-in shifter "
     "would take the wheel away from the game.",
     "grab"},
    {"--wait-for-lever", nullptr,
     "When another gearvane drives the lever, wait until it is free instead of ending (as the user unit "
     "does)."},
    {"--list-devices", nullptr, "List the devices that can be levers, then exit."},
    {"--learn", nullptr,
     "Ask for each gear in turn and print the lever's name and the gate map it answers with; with --config, "
     "write them there."},
    {"--simulate", nullptr,
     "No lever, no virtual keyboard: read positions 1..7, r, n, x (reset), or press N, release N and hat "
     "DIRECTION, from standard input, one per line, and print the key events."},
    {"--status", nullptr, "Print the state of the gearvane that runs, then exit."},
    {"--set-gear", "GEAR",
     "Tell the gearvane that runs that the game is in GEAR (1..7, r or n), as after the reset button, then exit."},
};

// --status and --set-gear talk to the gearvane that runs, whatever the config file says.
int ReadClientMode(const CommandLine &line, Settings *settings, std::string *error)
{
    bool status = Given(line, "--status"), setGear = Given(line, "--set-gear");
    if (line.given.size() > 1) {
        *error = std::string(status ? "--status" : "--set-gear") + " is given alone: it asks the gearvane that runs";
        return EXIT_USAGE;
    }
    Settings s;
    s.mode = status ? MODE_STATUS : MODE_SET_GEAR;
    if (setGear) {
        std::string gear = Lower(GivenValue(line, "--set-gear"));
        if (gear == "r")
            s.setGear = GEAR_REVERSE;
        else if (gear == "n")
            s.setGear = GEAR_NONE;
        else if (gear.size() == 1 && gear[0] >= '1' && gear[0] <= '7')
            s.setGear = gear[0] - '0';
        else {
            *error = "--set-gear: '" + GivenValue(line, "--set-gear").substr(0, 40) +
                     "' is not a gear: 1..7, r (reverse) or n (neutral)";
            return EXIT_USAGE;
        }
    }
    *settings = s;
    return -1;
}

std::string DefaultConfigPath()
{
    const char *xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg)
        return std::string(xdg) + "/gearvane/gearvane.conf";
    const char *home = getenv("HOME");
    return home && *home ? std::string(home) + "/.config/gearvane/gearvane.conf" : "";
}

// The shifter presses its own buttons: a key given for it is a mistake, not to be ignored.
bool ShifterHasNoKeys(const Settings &s, const std::vector<SettingValue> &cli, const std::vector<SettingValue> &file,
                      std::string *error)
{
    const SettingValue *output = nullptr, *key = nullptr;
    for (const std::vector<SettingValue> *values : {&cli, &file})
        for (const SettingValue &v : *values) {
            if (v.key == "output" && !output)
                output = &v;
            if ((v.key == "up-key" || v.key == "down-key") && !key)
                key = &v;
        }
    if (s.output != OUTPUT_SHIFTER || !key)
        return true;
    const std::string where = output->where;  // "--output", or "FILE:LINE: output"
    *error = key->where + ": no keys with " +
             (where[0] == '-' ? "--output shifter" : "output = shifter (" + where.substr(0, where.rfind(':')) + ")") +
             ": the virtual shifter presses its buttons 1 and 2 instead";
    return false;
}

}  // namespace

int KeyboardKeyCode(const std::string &name)
{
    // The desktop acts on these itself: a tap would power off, suspend or lock the machine.
    static const int system[] = {KEY_POWER, KEY_SLEEP, KEY_WAKEUP, KEY_SUSPEND, KEY_SCREENLOCK, KEY_RFKILL};
    int code = libevdev_event_code_from_name(EV_KEY, name.c_str());
    if (code <= KEY_RESERVED || code >= BTN_MISC)
        return -1;
    for (int s : system)
        if (code == s)
            return -1;
    return code;
}

std::vector<std::string> CommandLineKeys(const std::vector<std::string> &args)
{
    CommandLine line;
    std::string out, error;
    std::vector<std::string> keys;
    if (ParseCommandLine(args, Gearvane, LinuxOptions, &line, &out, &error) >= 0)
        return keys;
    for (const SettingValue &v : line.settings)
        keys.push_back(v.key);
    // A map on the command line replaces the file's plate and gate map alike.
    for (const char *map : {"plate", "gate"})
        for (const SettingValue &v : line.settings)
            if ((v.key == "plate" || v.key == "gate") && v.key != map) {
                keys.push_back(map);
                break;
            }
    return keys;
}

std::string ConfigPath(const std::vector<std::string> &args)
{
    CommandLine line;
    std::string out, error;
    if (ParseCommandLine(args, Gearvane, LinuxOptions, &line, &out, &error) >= 0)
        return "";
    return Given(line, "--config") ? GivenValue(line, "--config") : DefaultConfigPath();
}

int LoadSettings(const std::vector<std::string> &args, Settings *settings, std::string *error, std::string *out,
                 const std::string *configText)
{
    CommandLine line;
    int status = ParseCommandLine(args, Gearvane, LinuxOptions, &line, out, error);
    if (status >= 0)
        return status;
    if (Given(line, "--status") || Given(line, "--set-gear"))
        return ReadClientMode(line, settings, error);
    bool list = Given(line, "--list-devices"), learn = Given(line, "--learn"), simulate = Given(line, "--simulate");
    if (list + learn + simulate > 1) {
        *error = "--list-devices, --learn and --simulate cannot be used together";
        return EXIT_USAGE;
    }
    for (const char *lever : {"--device", "--grab", "--wait-for-lever"})
        if (simulate && Given(line, lever)) {
            *error = std::string("--simulate and ") + lever + " cannot be used together: --simulate reads no lever";
            return EXIT_USAGE;
        }

    // A fault of the config file is a usage error, except for --list-devices and --learn, the
    // tools that help to mend it: they go on without the file, and *error says why.
    Settings s;
    bool named = Given(line, "--config"), lenient = list || learn;
    std::string path = named ? GivenValue(line, "--config") : DefaultConfigPath();
    if (named && path.empty()) {
        *error = "--config: an empty name";
        return EXIT_USAGE;
    }
    std::vector<SettingValue> file;
    std::string text, fault;
    int rc = configText ? 0 : path.empty() ? ENOENT : ReadConfigFile(path, &text, &fault);
    if (configText)
        text = *configText;
    // The named config file must exist, unless --learn is to write it; the default one may be missing.
    if (rc == ENOENT && named && !learn)
        fault = "--config: " + path + ": no such file";
    else if (rc != 0 && rc != ENOENT)
        fault = (named ? "--config: " : "") + fault;
    else if (rc == 0 && ReadConfigText(text, path, &file, &fault))
        s.config = path;
    if (fault.empty() && JoinSettings(line.settings, file, KeyboardKeyCode, &s, &fault)) {
    } else if (!lenient) {
        *error = fault;
        return EXIT_USAGE;
    } else {
        // A fault of the command line's own is still a usage error.
        if (!JoinSettings(line.settings, {}, KeyboardKeyCode, &s, error))
            return EXIT_USAGE;
        *error = fault;
        s.config.clear();
    }
    if (learn)
        s.config = named ? path : "";
    if (!ShifterHasNoKeys(s, line.settings, file, error))
        return EXIT_USAGE;
    s.waitForLever = Given(line, "--wait-for-lever");
    s.mode = list ? MODE_LIST_DEVICES : learn ? MODE_LEARN : simulate ? MODE_SIMULATE : MODE_RUN;
    *settings = s;
    return -1;
}
