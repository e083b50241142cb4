// The command line through CLI11. It only collects what was given: the values are checked by
// JoinSettings, so that the command line and the config file say the same things.
#include "command_line.h"

#include <CLI/CLI.hpp>

namespace {

struct SharedOption {
    const char *name, *key, *valueName, *help;
};

const SharedOption SharedOptions[] = {
    {"--device", "device", "LEVER",
     "The lever: a part of its name (any case), or on Linux its event node such as /dev/input/event5. "
     "Default: the first device with joystick buttons or a hat."},
    {"--plate", "plate", "PLATE", "A legacy gate plate: standard (default) or nascar."},
    {"--gate", "gate", "MAP",
     "A gate map: a comma list of G=INPUT, G one of 1..7 or R, INPUT a button number or hat-up, hat-right, "
     "hat-down, hat-left; optional reset=BUTTON. Example: 1=13,2=14,3=15,4=16,5=17,6=18,R=19"},
    {"--max-gear", "max-gear", "4..7", "The highest gear sent (default 6)."},
    {"--up-key", "up-key", "KEY", "The shift-up key, by its Linux name (default KEY_PAGEUP)."},
    {"--down-key", "down-key", "KEY", "The shift-down key, by its Linux name (default KEY_PAGEDOWN)."},
    {"--hold-ms", "hold-ms", "1..1000", "How long each key is held, in milliseconds (default 40)."},
    {"--gap-ms", "gap-ms", "0..1000", "The pause between two taps, in milliseconds (default 40)."},
    {"--quiet", "quiet", nullptr, "Print nothing but errors."},
};

}  // namespace

int ParseCommandLine(const std::vector<std::string> &args, const Program &program, const std::vector<OwnOption> &own,
                     CommandLine *line, std::string *out, std::string *error)
{
    CLI::App app(program.description, program.name);
    app.set_version_flag("--version", program.version);
    app.option_defaults()->take_last();
    std::vector<std::pair<CLI::Option *, const char *>> settingOptions;  // with their keys
    for (const SharedOption &o : SharedOptions) {
        CLI::Option *option = o.valueName ? app.add_option(o.name, o.help)->type_name(o.valueName)
                                          : app.add_flag(o.name, o.help);
        settingOptions.push_back({option, o.key});
    }
    std::string configHelp = std::string("The config file (default ") + program.defaultConfig +
                             "). It takes the options above without their dashes, as in: max-gear = 5";
    std::vector<CLI::Option *> others = {app.add_option("--config")->description(configHelp)->type_name("FILE")};
    for (const OwnOption &o : own) {
        CLI::Option *option = o.valueName ? app.add_option(o.name, o.help)->type_name(o.valueName)
                                          : app.add_flag(o.name, o.help);
        if (o.settingKey)
            settingOptions.push_back({option, o.settingKey});
        else
            others.push_back(option);
    }

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
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

    CommandLine l;
    for (const auto &[option, key] : settingOptions)
        if (option->count()) {
            bool flag = option->get_type_size() == 0;
            std::string value = flag ? "true" : option->as<std::string>();
            l.settings.push_back({key, value, option->get_name()});
            l.given.push_back({option->get_name(), flag ? "" : value});
        }
    for (CLI::Option *option : others)
        if (option->count())
            l.given.push_back({option->get_name(), option->get_type_size() == 0 ? "" : option->as<std::string>()});
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
