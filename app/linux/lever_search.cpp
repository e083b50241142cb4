// Looking for the lever among the event nodes, and what tells one device from another.
#include "lever_search.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <utility>

#include "../../config/text.h"

namespace {

bool IsPath(const std::string &wanted)
{
    return !wanted.empty() && wanted[0] == '/';
}

// The entries of `folder` whose names begin with `prefix` (and not with a dot), sorted by
// name, as whole paths.
std::vector<std::string> Entries(const char *folder, const char *prefix)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder)) {
        while (dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.' && strncmp(entry->d_name, prefix, strlen(prefix)) == 0)
                names.push_back(std::string(folder) + "/" + entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The event nodes of /dev/input in number order (event2 before event10).
std::vector<std::string> EventNodes()
{
    std::vector<std::pair<long, std::string>> found;
    for (std::string &path : Entries("/dev/input", "event")) {
        const char *digits = path.c_str() + strlen("/dev/input/event");
        char *end;
        long n = strtol(digits, &end, 10);
        if (*end == '\0' && end != digits)
            found.push_back({n, std::move(path)});
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (auto &f : found)
        nodes.push_back(std::move(f.second));
    return nodes;
}

// The first line of a sysfs file, empty when there is none.
std::string FirstLine(const std::string &path)
{
    std::string text;
    std::getline(std::ifstream(path), text);
    return text;
}

// What sysfs, readable by anyone, says of an event node that cannot be opened.
DeviceTraits SysfsTraits(const std::string &node)
{
    std::string sys = "/sys/class/input" + node.substr(node.rfind('/')) + "/device/";
    DeviceTraits t;
    t.name = FirstLine(sys + "name");
    std::string keys = FirstLine(sys + "capabilities/key"), abs = FirstLine(sys + "capabilities/abs");
    const int wordBits = 8 * sizeof(long);  // the kernel's, as this program is built for it
    for (int code = 0; code < KEY_CNT; code++)
        if (CapabilityBit(keys.c_str(), code, wordBits)) {
            t.anyKey = true;
            t.joystickButton = t.joystickButton || IsLeverButton(code);
        }
    t.hat = CapabilityBit(abs.c_str(), ABS_HAT0X, wordBits) || CapabilityBit(abs.c_str(), ABS_HAT0Y, wordBits);
    return t;
}

std::string RealPath(const std::string &path)
{
    char real[PATH_MAX];
    return realpath(path.c_str(), real) ? real : "";
}

}  // namespace

DeviceTraits TraitsOf(const Lever &lever)
{
    DeviceTraits t;
    t.name = lever.name;
    t.joystickButton = std::any_of(lever.keys.begin(), lever.keys.end(), IsLeverButton);
    t.anyKey = !lever.keys.empty();
    t.hat = lever.hasHat;
    return t;
}

const char ReadAdvice[] =
    "add yourself to the 'input' group (then log in again), or give the node to your user with a udev rule";

bool IsGearvaneDevice(const std::string &name)
{
    return name.rfind("gearvane virtual", 0) == 0;
}

bool LooksLikeJoystick(const DeviceTraits &device)
{
    return device.joystickButton || device.hat;
}

Match MatchDevice(const DeviceTraits &device, const std::string &wanted)
{
    if (IsGearvaneDevice(device.name) || !(device.anyKey || device.hat))
        return MATCH_NONE;
    if (wanted.empty())
        return LooksLikeJoystick(device) ? MATCH_NAMED : MATCH_USABLE;
    if (IsPath(wanted))
        return MATCH_EXACT;
    std::string name = Lower(device.name), part = Lower(wanted);
    return name == part                           ? MATCH_EXACT
           : name.find(part) != std::string::npos ? MATCH_NAMED
                                                  : MATCH_USABLE;
}

bool IsDeviceLink(const std::string &wanted)
{
    return IsPath(wanted) && wanted.rfind("/dev/input/event", 0) != 0;
}

LeverSearch SearchLevers(const std::string &wanted, Match least)
{
    LeverSearch found;
    std::vector<std::pair<Match, Lever>> ranked;
    struct stat st;
    std::vector<std::string> nodes = !IsPath(wanted)                      ? EventNodes()
                                     : stat(wanted.c_str(), &st) == 0 ? std::vector<std::string>{wanted}
                                                                          : std::vector<std::string>{};
    found.nodes = static_cast<int>(nodes.size());
    for (const std::string &node : nodes) {
        Lever lever;
        int rc = OpenLever(node, &lever);
        if (rc == 0) {
            Match match = MatchDevice(TraitsOf(lever), wanted);
            if (match >= least)
                ranked.push_back({match, std::move(lever)});
            continue;
        }
        if (IsPath(wanted) && rc != ENOENT)
            found.pathError = rc;
        if (rc != EACCES && rc != EPERM)
            continue;
        DeviceTraits seen = SysfsTraits(node);
        if (MatchDevice(seen, wanted) >= std::max(least, MATCH_NAMED))
            found.unreadable.push_back(node + " (" + seen.name + ")");
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    for (auto &r : ranked)
        found.levers.push_back(std::move(r.second));
    return found;
}

std::string PathRefusal(const std::string &path, int error)
{
    if (error == EACCES || error == EPERM)
        return "cannot read " + path + " (" + strerror(error) + "): " + ReadAdvice;
    return path + " is not an input event node (" + strerror(error) + "); see gearvane --list-devices";
}

std::string LeverIdentifier(const Lever &lever, const std::string &wanted, const char *byId)
{
    if (IsDeviceLink(wanted))
        return wanted;
    std::string node = RealPath(lever.path);
    for (const std::string &link : Entries(byId, ""))
        if (!node.empty() && RealPath(link) == node)
            return link;
    return lever.name;
}
