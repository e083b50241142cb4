// Event nodes and levers, through libevdev.
#include "lever.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

std::vector<std::string> EventNodes()
{
    std::vector<std::pair<long, std::string>> found;
    if (DIR *dir = opendir("/dev/input")) {
        while (dirent *entry = readdir(dir)) {
            char *end;
            if (strncmp(entry->d_name, "event", 5) != 0)
                continue;
            long n = strtol(entry->d_name + 5, &end, 10);
            if (*end == '\0' && end != entry->d_name + 5)
                found.push_back({n, std::string("/dev/input/") + entry->d_name});
        }
        closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (auto &f : found)
        nodes.push_back(f.second);
    return nodes;
}

int OpenLever(const std::string &path, Lever *lever)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Before libevdev reads the state: setting the clock later empties the queue, and a
    // move made in between would go unseen until the lever moved again.
    int clock = CLOCK_MONOTONIC;
    ioctl(fd, EVIOCSCLOCKID, &clock);
    libevdev *dev = nullptr;
    int rc = libevdev_new_from_fd(fd, &dev);
    if (rc < 0) {
        close(fd);
        return -rc;
    }
    lever->fd = fd;
    lever->dev = dev;
    lever->path = path;
    lever->name = libevdev_get_name(dev) ? libevdev_get_name(dev) : "";
    lever->vendor = libevdev_get_id_vendor(dev);
    lever->product = libevdev_get_id_product(dev);
    NumberButtons([dev](int code) { return libevdev_has_event_code(dev, EV_KEY, code) == 1; }, &lever->numbers);
    lever->keys.clear();
    for (int code = 0; code < KEY_CNT; code++)
        if (lever->numbers.of[code])
            lever->keys.push_back(code);
    lever->hasHat = libevdev_has_event_code(dev, EV_ABS, ABS_HAT0X) || libevdev_has_event_code(dev, EV_ABS, ABS_HAT0Y);
    return 0;
}

void CloseLever(Lever *lever)
{
    if (lever->dev)
        libevdev_free(lever->dev);
    if (lever->fd >= 0)
        close(lever->fd);
    lever->dev = nullptr;
    lever->fd = -1;
}

std::vector<std::string> CandidateNodes(const std::string &device)
{
    struct stat st;
    if (device.empty() || device[0] != '/')
        return EventNodes();
    if (stat(device.c_str(), &st) != 0)
        return {};
    return {device};
}

bool IsNamedLever(const Lever &lever, const std::string &device)
{
    if (device.empty()) {
        for (int code : lever.keys)
            if (IsLeverButton(code))
                return true;
        return lever.hasHat;
    }
    if (!lever.hasHat && lever.numbers.count == 0)
        return false;
    if (device[0] == '/')
        return true;
    auto lower = [](std::string text) {
        for (auto &c : text)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return text;
    };
    return lower(lever.name).find(lower(device)) != std::string::npos;
}

Sample ReadSample(const Lever &lever)
{
    Sample sample = {};
    for (int code : lever.keys)
        if (libevdev_get_event_value(lever.dev, EV_KEY, code))
            SetButton(&sample, lever.numbers.of[code], true);
    sample.hat = lever.hasHat ? HatAngle(libevdev_get_event_value(lever.dev, EV_ABS, ABS_HAT0X),
                                         libevdev_get_event_value(lever.dev, EV_ABS, ABS_HAT0Y))
                              : HAT_CENTRED;
    return sample;
}
