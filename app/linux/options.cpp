// Options: CLI11 reads the command line and the config file; the command line wins.
#include "options.h"

#include <libevdev/libevdev.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <fstream>

#include "../../config/gate_map.h"

namespace {

const char Version[] = "gearvane " GEARVANE_VERSION;

// The options that a config file may set too, as they were given.
struct Given {
    std::string device, plate, gate, upKey, downKey;
    bool grab = false, quiet = false;
    int maxGear = 0, holdMs = 0, gapMs = 0;
};

std::map<std::string, CLI::Option *> AddSettingOptions(CLI::App &app, Given &g)
{
    std::map<std::string, CLI::Option *> o;
    o["device"] = app.add_option("--device", g.device,
                                 "The lever: an event node such as /dev/input/event5, or a part of its name "
                                 "(any case). Default: the first device with joystick buttons or a hat.");
    o["grab"] = app.add_flag("--grab", g.grab,
                             "Take the lever for gearvane alone (EVIOCGRAB). Only for a dedicated lever: a "
                             "wheel's built-in shifter would take the wheel away from the game.");
    o["plate"] = app.add_option("--plate", g.plate, "A legacy gate plate: standard (default) or nascar.")
                     ->check(CLI::IsMember({"standard", "nascar"}, CLI::ignore_case));
    o["gate"] = app.add_option("--gate", g.gate,
                               "A gate map: a comma list of G=INPUT, G one of 1..7 or R, INPUT a button number "
                               "or hat-up, hat-right, hat-down, hat-left; optional reset=BUTTON. "
                               "Example: 1=13,2=14,3=15,4=16,5=17,6=18,R=19");
    o["max-gear"] = app.add_option("--max-gear", g.maxGear, "The highest gear sent, 4..7 (default 6).")
                        ->check(CLI::Range(4, 7));
    o["up-key"] = app.add_option("--up-key", g.upKey, "The shift-up key, an evdev name (default KEY_PAGEUP).");
    o["down-key"] =
        app.add_option("--down-key", g.downKey, "The shift-down key, an evdev name (default KEY_PAGEDOWN).");
    o["hold-ms"] = app.add_option("--hold-ms", g.holdMs, "How long each key is held, 1..1000 ms (default 40).")
                       ->check(CLI::Range(1, 1000));
    o["gap-ms"] = app.add_option("--gap-ms", g.gapMs, "The pause between two taps, 0..1000 ms (default 40).")
                      ->check(CLI::Range(0, 1000));
    o["quiet"] = app.add_flag("--quiet", g.quiet, "Print nothing but errors.");
    return o;
}

bool Set(const std::map<std::string, CLI::Option *> &o, const char *name)
{
    return o.at(name)->count() > 0;
}

std::string DefaultConfigPath()
{
    const char *xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg)
        return std::string(xdg) + "/gearvane/gearvane.conf";
    const char *home = getenv("HOME");
    return home && *home ? std::string(home) + "/.config/gearvane/gearvane.conf" : "";
}

bool KeyCode(const std::string &option, const std::string &name, int *code, std::string *error)
{
    int c = libevdev_event_code_from_name(EV_KEY, name.c_str());
    if (c < 0) {
        *error = option + ": " + name + " is not a key; use an evdev key name such as KEY_PAGEUP or KEY_E";
        return false;
    }
    *code = c;
    return true;
}

}  // namespace

int LoadSettings(const std::vector<std::string> &args, Settings *settings, std::string *error, std::string *out)
{
    CLI::App app("Drive a game's sequential shift keys with an H-pattern gear lever.", "gearvane");
    app.set_version_flag("--version", Version);
    Given cli;
    auto opt = AddSettingOptions(app, cli);
    std::string config;
    bool listDevices = false, learn = false, simulate = false;
    auto configOption = app.add_option("--config", config,
                                       "The config file (default $XDG_CONFIG_HOME/gearvane/gearvane.conf). It takes "
                                       "the options above without their dashes, as in: max-gear = 5");
    auto list = app.add_flag("--list-devices", listDevices, "List the devices that can be levers, then exit.");
    auto learnFlag = app.add_flag("--learn", learn, "Ask for each gear in turn and print the --gate map that "
                                                     "the lever answers with; with --config, write it there.");
    auto simulateFlag = app.add_flag("--simulate", simulate,
                                     "No lever, no virtual keyboard: read positions 1..7, r, n, x (reset) from "
                                     "standard input, one per line, and print the key events.");
    list->excludes(learnFlag)->excludes(simulateFlag);
    learnFlag->excludes(simulateFlag);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp &) {
        *out = app.help();
        return 0;
    } catch (const CLI::CallForVersion &) {
        *out = std::string(Version) + "\n";
        return 0;
    } catch (const CLI::ParseError &e) {
        *error = e.what();
        return EXIT_USAGE;
    }
    if (Set(opt, "plate") && Set(opt, "gate")) {
        *error = "--plate and --gate cannot be used together: --plate chooses a legacy plate, --gate maps each gear";
        return EXIT_USAGE;
    }

    // The config file: the named one must exist; the default one may be missing.
    Settings s;
    std::string path = configOption->count() ? config : DefaultConfigPath();
    struct stat st;
    bool exists = !path.empty() && stat(path.c_str(), &st) == 0;
    if (configOption->count() && !exists && !learn) {
        *error = "--config: " + path + ": no such file";
        return EXIT_USAGE;
    }
    if (learn)
        s.config = configOption->count() ? path : "";
    Given file;
    CLI::App fileApp;
    auto fileOpt = AddSettingOptions(fileApp, file);
    fileApp.allow_config_extras(false);
    if (exists && !S_ISDIR(st.st_mode)) {
        std::ifstream in(path);
        if (!in) {
            *error = "--config: " + path + ": cannot be read";
            return EXIT_USAGE;
        }
        try {
            fileApp.parse_from_stream(in);
        } catch (const CLI::ParseError &e) {
            *error = path + ": " + e.what();
            return EXIT_USAGE;
        }
        if (Set(fileOpt, "plate") && Set(fileOpt, "gate")) {
            *error = path + ": plate and gate cannot be used together";
            return EXIT_USAGE;
        }
        s.config = path;
    }

    // Each setting from the command line, else from the file, else its default.
    auto pick = [&](const char *name) -> const Given * {
        return Set(opt, name) ? &cli : Set(fileOpt, name) ? &file : nullptr;
    };
    if (auto g = pick("device"))
        s.device = g->device;
    if (auto g = pick("grab"))
        s.grab = g->grab;
    if (auto g = pick("max-gear"))
        s.maxGear = g->maxGear;
    if (auto g = pick("up-key"))
        s.upKey = g->upKey;
    if (auto g = pick("down-key"))
        s.downKey = g->downKey;
    if (auto g = pick("hold-ms"))
        s.holdMs = g->holdMs;
    if (auto g = pick("gap-ms"))
        s.gapMs = g->gapMs;
    if (auto g = pick("quiet"))
        s.quiet = g->quiet;
    // One plate or gate map: the command line's whole choice wins over the file's.
    bool cliMap = Set(opt, "plate") || Set(opt, "gate");
    bool fileMap = Set(fileOpt, "plate") || Set(fileOpt, "gate");
    const Given *mapSource = cliMap ? &cli : fileMap ? &file : nullptr;
    bool gate = cliMap ? Set(opt, "gate") : fileMap && Set(fileOpt, "gate");
    if (gate) {
        char message[200];
        if (!ParseGateMap(mapSource->gate.c_str(), &s.map, message, sizeof message)) {
            *error = std::string(cliMap ? "--gate" : path + ": gate") + ": " + message;
            return EXIT_USAGE;
        }
        s.mapName = mapSource->gate;
    } else if (mapSource) {
        bool nascar = CLI::detail::to_lower(mapSource->plate) == "nascar";
        s.map = nascar ? NascarPlate : StandardPlate;
        s.mapName = nascar ? "nascar" : "standard";
    }
    if (!KeyCode("--up-key", s.upKey, &s.upCode, error) || !KeyCode("--down-key", s.downKey, &s.downCode, error))
        return EXIT_USAGE;
    if (s.upCode == s.downCode) {
        *error = "--up-key and --down-key must be two different keys";
        return EXIT_USAGE;
    }
    s.mode = listDevices ? MODE_LIST_DEVICES : learn ? MODE_LEARN : simulate ? MODE_SIMULATE : MODE_RUN;
    *settings = s;
    return -1;
}
