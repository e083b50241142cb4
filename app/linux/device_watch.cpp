// Listing the devices, and reading the live input of those a client watches.
#include "device_watch.h"

#include <errno.h>
#include <string.h>
#include <sys/inotify.h>

#include "lever_search.h"

std::vector<DeviceEntry> ListDevices(const std::string &driving)
{
    LeverSearch found = SearchLevers("", MATCH_USABLE);
    std::vector<DeviceEntry> list;
    for (const Lever &lever : found.levers) {
        DeviceEntry d;
        d.node = lever.path;
        d.name = lever.name;
        d.setting = LeverIdentifier(lever, "");
        d.vendor = lever.vendor;
        d.product = lever.product;
        d.buttons = lever.numbers.count;
        d.hat = lever.hasHat;
        d.driving = lever.path == driving;
        list.push_back(d);
    }
    for (const std::string &seen : found.unreadable) {
        // "NODE (NAME)"
        DeviceEntry d;
        size_t open = seen.find(" (");
        d.node = seen.substr(0, open);
        d.name = open == std::string::npos ? "" : seen.substr(open + 2, seen.size() - open - 3);
        d.setting = d.name;
        d.readable = false;
        d.why = std::string("cannot read it: ") + ReadAdvice;
        list.push_back(d);
    }
    return list;
}

bool DeviceWatch::WatchNodes(Poller *poller, bool on)
{
    if (!on) {
        nodes.Close();
        return true;
    }
    if (nodes.Get() >= 0)
        return true;
    Fd fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    const uint32_t mask = IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO;
    if (fd.Get() < 0 || (inotify_add_watch(fd.Get(), "/dev/input", mask) < 0 && errno != ENOENT) ||
        !poller->Watch(fd.Get(), SRC_DEVICES))
        return false;
    nodes = std::move(fd);
    return true;
}

bool DeviceWatch::OnNodes()
{
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    ssize_t n;
    while ((n = read(nodes.Get(), buffer, sizeof buffer)) > 0)
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            changed = changed || (event->len && strncmp(event->name, "event", 5) == 0);
            at += sizeof(inotify_event) + event->len;
        }
    return changed;
}

void DeviceWatch::Open(Poller *poller, const std::string &skip, std::vector<DeviceInput> *fresh)
{
    open = true;
    LeverSearch found = SearchLevers("", MATCH_USABLE);
    for (Lever &lever : found.levers) {
        bool known = lever.path == skip;
        for (const Watched &w : devices)
            known = known || (w.lever.IsOpen() && w.lever.path == lever.path);
        if (known)
            continue;
        uint32_t index = static_cast<uint32_t>(devices.size());
        if (!poller->Watch(lever.fd.Get(), SRC_DEVICE, index))
            continue;
        Sample now = ReadSample(lever);
        fresh->push_back({lever.path, now, lever.hasHat});
        devices.push_back({std::move(lever), now});
    }
}

void DeviceWatch::Close()
{
    devices.clear();  // closing a descriptor takes it out of epoll
    open = false;
}

bool DeviceWatch::OnReady(uint32_t index, DeviceInput *input)
{
    if (index >= devices.size() || !devices[index].lever.IsOpen())
        return false;
    Watched &w = devices[index];
    // Only the state after the last report counts here.
    bool dropped = false;
    LeverRead read;
    while ((read = ReadLeverReport(w.lever, &dropped)) == LEVER_MOVED) {
    }
    if (read == LEVER_GONE) {
        w.lever = Lever();  // unplugged: the list's watch tells the clients
        return false;
    }
    // Axes change nothing here: a wheel that is turned sends nothing.
    Sample now = ReadSample(w.lever);
    if (SameSample(now, w.shown))
        return false;
    w.shown = now;
    *input = {w.lever.path, now, w.lever.hasHat};
    return true;
}
