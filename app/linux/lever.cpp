// Event nodes and levers, through libevdev.
#include "lever.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <utility>

Lever &Lever::operator=(Lever &&other) noexcept
{
    if (this != &other) {
        CloseLever(this);
        fd = std::exchange(other.fd, -1);
        dev = std::exchange(other.dev, nullptr);
        path = std::move(other.path);
        name = std::move(other.name);
        vendor = other.vendor;
        product = other.product;
        numbers = other.numbers;
        keys = std::move(other.keys);
        hasHat = other.hasHat;
    }
    return *this;
}

Lever::~Lever()
{
    CloseLever(this);
}

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
    if (ioctl(fd, EVIOCSCLOCKID, &clock) < 0) {
        int e = errno;
        close(fd);
        return e;
    }
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

namespace {

// Whether a device is the lever `device` names, from what it has (see IsNamedLever).
bool Matches(const std::string &name, bool leverButton, bool anyKey, bool hat, const std::string &device)
{
    // The virtual devices of gearvane, this one's or another's, are outputs: the shifter has
    // joystick buttons, but a lever it is not.
    if (name.rfind("gearvane virtual", 0) == 0)
        return false;
    if (device.empty())
        return leverButton || hat;
    if (!hat && !anyKey)
        return false;
    if (device[0] == '/')
        return true;
    auto lower = [](std::string text) {
        for (auto &c : text)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return text;
    };
    return lower(name).find(lower(device)) != std::string::npos;
}

// The first line of a sysfs file, empty when there is none.
std::string FirstLine(const std::string &path)
{
    std::string text;
    std::getline(std::ifstream(path), text);
    return text;
}

// The pid that holds a flock on the file of `fd`, from /proc/locks; 0 if none is found.
int LockHolder(int fd)
{
    struct stat st;
    FILE *locks = fstat(fd, &st) == 0 ? fopen("/proc/locks", "re") : nullptr;
    if (!locks)
        return 0;
    char line[256];
    int holder = 0;
    while (!holder && fgets(line, sizeof line, locks)) {
        int pid;
        unsigned devMajor, devMinor;
        unsigned long inode;
        // "1: FLOCK  ADVISORY  WRITE 1234 00:05:567 0 EOF"; a waiter's line has "->" first.
        if (sscanf(line, "%*d: FLOCK %*s %*s %d %x:%x:%lu", &pid, &devMajor, &devMinor, &inode) == 4 &&
            devMajor == major(st.st_dev) && devMinor == minor(st.st_dev) && inode == st.st_ino)
            holder = pid;
    }
    fclose(locks);
    return holder;
}

}  // namespace

bool IsNamedLever(const Lever &lever, const std::string &device)
{
    bool leverButton = std::any_of(lever.keys.begin(), lever.keys.end(), IsLeverButton);
    return Matches(lever.name, leverButton, lever.numbers.count > 0, lever.hasHat, device);
}

bool MayBeNamedLever(const std::string &node, const std::string &device, std::string *name)
{
    std::string sys = "/sys/class/input" + node.substr(node.rfind('/')) + "/device/";
    *name = FirstLine(sys + "name");
    std::string keys = FirstLine(sys + "capabilities/key"), abs = FirstLine(sys + "capabilities/abs");
    const int wordBits = 8 * sizeof(long);  // the kernel's, as this program is built for it
    bool leverButton = false, anyKey = false;
    for (int code = 0; code < KEY_CNT; code++)
        if (CapabilityBit(keys.c_str(), code, wordBits)) {
            anyKey = true;
            leverButton = leverButton || IsLeverButton(code);
        }
    bool hat = CapabilityBit(abs.c_str(), ABS_HAT0X, wordBits) || CapabilityBit(abs.c_str(), ABS_HAT0Y, wordBits);
    return Matches(*name, leverButton, anyKey, hat, device);
}

int LockLever(const Lever &lever, int *holder)
{
    *holder = 0;
    // A holder that ends in between leaves no pid behind: then the lock is tried again.
    for (int tries = 0; tries < 3; tries++) {
        if (flock(lever.fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno != EWOULDBLOCK)
            return errno;
        if ((*holder = LockHolder(lever.fd)) > 0)
            break;
    }
    return EWOULDBLOCK;
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
