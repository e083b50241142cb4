// gearvane for Linux: reads the options, then runs the daemon, --learn or --list-devices.
#include <errno.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "daemon.h"
#include "learn.h"
#include "lever.h"
#include "options.h"
#include "say.h"

namespace {

// The devices that can be levers, on standard output; on standard error, when there is
// none, why that may be. Unreadable keyboards and mice are the rule on a desktop: only
// joysticks that cannot be read are worth a word.
int ListDevices()
{
    int usable = 0, readable = 0;
    std::vector<std::string> nodes = EventNodes(), unreadable;
    for (const std::string &node : nodes) {
        Lever lever;
        int rc = OpenLever(node, &lever);
        std::string name;
        if ((rc == EACCES || rc == EPERM) && MayBeNamedLever(node, "", &name))
            unreadable.push_back(node + " (" + name + ")");
        if (rc != 0)
            continue;
        readable++;
        if (!IsNamedLever(lever, ""))
            continue;
        usable++;
        printf("%s\t%s\t%04x:%04x\t%d buttons\t%s\n", node.c_str(), lever.name.c_str(), lever.vendor,
               lever.product, lever.numbers.count, lever.hasHat ? "hat" : "no hat");
    }
    for (const std::string &node : unreadable)
        Fail("cannot read %s: add yourself to the 'input' group (then log in again), or give the node to "
             "your user with a udev rule",
             node.c_str());
    if (usable == 0 && unreadable.empty()) {
        if (nodes.empty())
            Fail("no input devices: /dev/input has no event nodes");
        else
            Fail("no lever among %zu input devices (%d of them readable): none has joystick buttons or a hat. "
                 "Plug the lever in",
                 nodes.size(), readable);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    Settings settings;
    std::string error, out;
    int status = LoadSettings(args, &settings, &error, &out);
    if (status >= 0) {
        fputs(out.c_str(), stdout);
        if (!error.empty())
            Fail("%s (see gearvane --help)", error.c_str());
        return status;
    }
    switch (settings.mode) {
    case MODE_LIST_DEVICES:
        return ListDevices();
    case MODE_LEARN:
        return Learn(settings);
    default:
        return RunDaemon(args, settings);
    }
}
