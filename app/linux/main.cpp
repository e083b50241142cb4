// gearvane for Linux: reads the options, then runs the daemon, --learn, --list-devices, or
// asks the daemon that runs (--status, --set-gear).
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "control_client.h"
#include "daemon.h"
#include "learn.h"
#include "lever_search.h"
#include "options.h"
#include "process.h"
#include "say.h"

namespace {

// Every device that --device can name, joysticks first, on standard output; on standard
// error, when there is none, why that may be. Unreadable keyboards and mice are the rule on
// a desktop: only joysticks that cannot be read are worth a word.
int ListDevices()
{
    LeverSearch found = SearchLevers("", MATCH_USABLE);
    for (const Lever &lever : found.levers) {
        bool joystick = LooksLikeJoystick(TraitsOf(lever));
        printf("%s\t%s\t%04x:%04x\t%d buttons\t%s\t%s\n", lever.path.c_str(), lever.name.c_str(), lever.vendor,
               lever.product, lever.numbers.count, lever.hasHat ? "hat" : "no hat",
               joystick ? "joystick" : "not a joystick");
    }
    for (const std::string &node : found.unreadable)
        PrintError("cannot read %s: %s", node.c_str(), ReadAdvice);
    if (found.levers.empty() && found.unreadable.empty()) {
        if (found.nodes == 0)
            PrintError("no input devices: /dev/input has no event nodes");
        else
            PrintError("no input device that can be read has buttons, keys or a hat (%d event nodes). "
                       "Plug the lever in",
                       found.nodes);
    }
    if (fflush(stdout) != 0) {
        PrintError("standard output: %s", strerror(errno));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    SetUpStandardStreams();
    std::vector<std::string> args(argv + 1, argv + argc);
    Settings settings;
    std::string error, out;
    int status = LoadSettings(args, &settings, &error, &out);
    if (status >= 0) {
        fputs(out.c_str(), stdout);
        if (!error.empty())
            PrintError("%s (see gearvane --help)", error.c_str());
        return status;
    }
    if (!error.empty())
        PrintError("%s; going on without the config file", error.c_str());
    switch (settings.mode) {
    case MODE_LIST_DEVICES:
        return ListDevices();
    case MODE_LEARN:
        return Learn(settings);
    case MODE_STATUS:
        return PrintStatus();
    case MODE_SET_GEAR:
        return SetGameGear(settings.setGear);
    default:
        return RunDaemon(args, settings);
    }
}
