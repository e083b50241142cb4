// The command line through CLI11. It only collects what was given: the values are checked by
// JoinSettings, so that the command line and the config file say the same things.
#include "command_line.h"

#include <CLI/CLI.hpp>

namespace {

struct SharedOption {
    const char *name, *key, *valueName, *help;
    const char *windowsHelp;  // gearvane-tray's: null, the same; "", none (not listed)
};

const SharedOption SharedOptions[] = {
    {"--device", "device", "LEVER",
     "The lever: a part of its name (any case), or on Linux its event node such as /dev/input/event5. "
     "Default: the first device with joystick buttons or a hat.",
     "The lever: a part of its name as the window lists it (any case). Default: the lever chosen in the window, "
     "or the only game controller plugged in."},
    {"--plate", "plate", "PLATE", "A legacy gate plate: standard (default) or nascar.", nullptr},
    {"--gate", "gate", "MAP",
     "A gate map: a comma list of G=INPUT, G one of 1..7 or R, INPUT a button number or hat-up, hat-right, "
     "hat-down, hat-left; optional reset=BUTTON. Example: 1=13,2=14,3=15,4=16,5=17,6=18,R=19", nullptr},
    {"--max-gear", "max-gear", "4..7", "The highest gear sent (default 6).", nullptr},
    {"--up-key", "up-key", "KEY", "The shift-up key, by its Linux name (default KEY_PAGEUP).",
     "The shift-up key, by the name the config file keeps (default KEY_PAGEUP, Page Up)."},
    {"--down-key", "down-key", "KEY", "The shift-down key, by its Linux name (default KEY_PAGEDOWN).",
     "The shift-down key, by the name the config file keeps (default KEY_PAGEDOWN, Page Down)."},
    {"--hold-ms", "hold-ms", "1..1000", "How long each key is held, in milliseconds (default 40).", nullptr},
    {"--gap-ms", "gap-ms", "0..1000", "The pause between two taps, in milliseconds (default 40).", nullptr},
    {"--quiet", "quiet", nullptr, "Print nothing but errors.", ""},
    {"--output", "output", "OUTPUT",
     "Where the shifts go: keyboard (default), the shift keys; or shifter, a virtual game controller whose "
     "buttons 1 and 2 shift up and down, which the game binds like a sequential shifter.",
     "Where the shifts go: keyboard (default), the shift keys; or shifter, buttons 1 and 2 of a vJoy device, "
     "which the game binds like a sequential shifter (the keys while vJoy cannot be had)."},
    {"--telemetry", "telemetry", "[ADDRESS:]PORT",
     "Read the game's gear from its UDP telemetry on this port (Forza Data Out, F1 22-25, Codemasters "
     "extradata=3, OutGauge), on 127.0.0.1 unless an IPv4 ADDRESS is given; off or nothing: off (default).", nullptr},
    {"--telemetry-wait-ms", "telemetry-wait-ms", "50..2000",
     "How long a tap waits for the game to report its gear before the step is tapped again (default 500).", nullptr},
};

struct Added {
    CLI::Option *option;
    const char *key;  // the setting it gives, or nullptr
    bool flag;
};

CLI::Option *Add(CLI::App &app, const char *name, const char *valueName, const std::string &help)
{
    return valueName ? app.add_option(name)->description(help)->type_name(valueName)
                     : app.add_flag(name)->description(help);
}

}  // namespace

int ParseCommandLine(const std::vector<std::string> &args, const Program &program, const std::vector<OwnOption> &own,
                     CommandLine *line, std::string *out, std::string *error)
{
    CLI::App app(program.description, program.name);
    app.set_version_flag("--version", program.version);
    app.option_defaults()->take_last();
    std::vector<Added> added;
    for (const SharedOption &o : SharedOptions) {
        const char *help = program.windows && o.windowsHelp ? o.windowsHelp : o.help;
        CLI::Option *option = Add(app, o.name, o.valueName, help);
        // Not listed, but still taken: a command line means the same on every system.
        if (!*help)
            option->group("");
        added.push_back({option, o.key, !o.valueName});
    }
    std::string configHelp = std::string("The config file (default ") + program.defaultConfig +
                             "). It takes the options above without their dashes, as in: max-gear = 5";
    added.push_back({Add(app, "--config", "FILE", configHelp), nullptr, false});
    for (const OwnOption &o : own)
        added.push_back({Add(app, o.name, o.valueName, o.help), o.settingKey, !o.valueName});

    CommandLine l;
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
        for (const Added &a : added) {
            if (!a.option->count())
                continue;
            // A flag may be given as --quiet=false too.
            std::string value = a.option->as<std::string>();
            bool on = true;
            if (a.flag && !ReadFlag(value, &on)) {
                *error = a.option->get_name() + ": '" + value + "' is neither true nor false";
                return EXIT_USAGE;
            }
            if (a.flag)
                value = on ? "true" : "false";
            if (a.key)
                l.settings.push_back({a.key, value, a.option->get_name()});
            if (on)
                l.given.push_back({a.option->get_name(), a.flag ? "" : value});
        }
    } catch (const CLI::CallForHelp &) {
        *out = app.help();
        return 0;
    } catch (const CLI::CallForVersion &) {
        *out = std::string(program.version) + "\n";
        return 0;
    } catch (const CLI::ParseError &e) {
        *error = e.what();
        return EXIT_USAGE;
    }
    *line = l;
    return -1;
}

bool Given(const CommandLine &line, const std::string &option)
{
    for (const auto &g : line.given)
        if (g.first == option)
            return true;
    return false;
}

std::string GivenValue(const CommandLine &line, const std::string &option)
{
    for (const auto &g : line.given)
        if (g.first == option)
            return g.second;
    return "";
}
