// Options of gearvane for Linux: the shared command line and settings, its own flags, where
// its config file is, and which evdev keys may be sent.
#include "options.h"

#include <errno.h>
#include <libevdev/libevdev.h>
#include <stdlib.h>

#include "../../config/command_line.h"
#include "../../config/config_file.h"

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
     "No lever, no virtual keyboard: read positions 1..7, r, n, x (reset) from standard input, one per line, "
     "and print the key events."},
};

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

int LoadSettings(const std::vector<std::string> &args, Settings *settings, std::string *error, std::string *out)
{
    CommandLine line;
    int status = ParseCommandLine(args, Gearvane, LinuxOptions, &line, out, error);
    if (status >= 0)
        return status;
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
    int rc = path.empty() ? ENOENT : ReadConfigFile(path, &text, &fault);
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
