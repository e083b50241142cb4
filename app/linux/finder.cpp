// Waiting for the lever, and claiming it when it comes.
#include "finder.h"

#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <limits.h>
#include <string.h>
#include <sys/file.h>
#include <sys/inotify.h>

#include "lever_search.h"
#include "say.h"

namespace {

// How often, and how far apart, a node that appeared is tried again while udev may still
// be setting its permissions.
enum { RETRIES = 20, RETRY_US = 100000 };

// How often the lock of a lever that another gearvane drives is tried. Nothing tells when
// a flock goes: the holder's close wakes inotify before its lock is let go.
const int64_t DRIVEN_RETRY_US = 2000000;

bool IsPath(const std::string &device)
{
    return !device.empty() && device[0] == '/';
}

}  // namespace

bool LeverFinder::Open(std::string *error)
{
    hotplug = Fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (hotplug.Get() < 0 || !retry.Open()) {
        *error = std::string("cannot watch for the lever: ") + strerror(errno);
        return false;
    }
    return true;
}

// False, with `error`, when a folder that exists cannot be watched.
bool LeverFinder::WatchFolder(const std::string &folder, uint32_t mask)
{
    if (inotify_add_watch(hotplug.Get(), folder.c_str(), mask | IN_MASK_ADD) >= 0 || errno == ENOENT ||
        errno == ENOTDIR)
        return true;
    error = "cannot watch " + folder + ": " + strerror(errno);
    return false;
}

// New nodes and their permissions in /dev/input (or /dev until it has an input folder), and
// every folder along a --device path and the links it goes through: a by-id link may come
// long after its node, in a folder that may not exist yet.
bool LeverFinder::AddWatches()
{
    const uint32_t nodes = IN_CREATE | IN_ATTRIB | IN_MOVED_TO, entries = IN_CREATE | IN_MOVED_TO;
    if (inotify_add_watch(hotplug.Get(), "/dev/input", nodes | IN_MASK_ADD) < 0) {
        if (errno != ENOENT) {
            error = std::string("cannot watch /dev/input: ") + strerror(errno);
            return false;
        }
        if (!WatchFolder("/dev", entries))
            return false;
    }
    std::string path = device;
    for (int links = 0; IsPath(device) && links < 8; links++) {
        for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
            bool last = path.find('/', slash + 1) == std::string::npos;
            if (!WatchFolder(path.substr(0, slash), last ? nodes : entries))
                return false;
        }
        char target[PATH_MAX];
        ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0)
            break;
        target[n] = '\0';
        path = target[0] == '/' ? target : path.substr(0, path.rfind('/') + 1) + target;
    }
    return true;
}

LeverFinder::Outcome LeverFinder::Start()
{
    Outcome outcome = AddWatches() ? SearchAndClaim(true) : FAILED;
    ArmRetry(Now());
    return outcome;
}

void LeverFinder::ArmRetry(int64_t now)
{
    if (Attached())
        retry.ArmAt(-1);
    else if (retriesLeft > 0)
        retry.ArmAt(now + RETRY_US);
    else
        retry.ArmAt(driven.Get() >= 0 ? now + DRIVEN_RETRY_US : -1);
}

// Whether the gearvane that drove the lever let it go; if so, the lever is looked for anew.
bool LeverFinder::DriverGone()
{
    if (driven.Get() < 0 || flock(driven.Get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    // Let go at once: the search takes the lock again on a descriptor of its own.
    flock(driven.Get(), LOCK_UN);
    driven = Fd();
    drivenPath.clear();
    return true;
}

// The best match that is free to drive, claimed.
LeverFinder::Outcome LeverFinder::SearchAndClaim(bool atStart)
{
    bool byName = !lostName.empty();
    LeverSearch found = SearchLevers(byName ? lostName : device, byName ? MATCH_EXACT : MATCH_NAMED);
    unreadable = std::move(found.unreadable);
    if (atStart && found.pathError) {
        error = PathRefusal(device, found.pathError);
        return FAILED;
    }
    const Lever *taken = nullptr;  // the best match that another gearvane drives
    for (Lever &candidate : found.levers) {
        Outcome outcome = Claim(candidate, atStart, &taken);
        if (outcome != NO_CHANGE)
            return outcome;
    }
    if (!taken || !waitWhileDriven || taken->path == drivenPath)
        return NO_CHANGE;
    // Its node stays open, so that each try of its lock is one flock, not a search.
    driven = Fd(open(taken->path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (driven.Get() < 0)
        return NO_CHANGE;
    drivenPath = taken->path;
    return DRIVEN;
}

LeverFinder::Outcome LeverFinder::Claim(Lever &found, bool atStart, const Lever **taken)
{
    int holder, rc = LockLever(found, &holder);
    if (rc == EWOULDBLOCK) {
        if (!*taken) {
            *taken = &found;
            error = found.path + " (" + found.name + ") is already driven by " +
                    (holder > 0 ? "gearvane (pid " + std::to_string(holder) + ")" : std::string("another gearvane"));
        }
        // Later, a device that another gearvane drives is someone else's lever of the same
        // name: this one waits on for its own. At start, only a waiting gearvane waits.
        return atStart && !waitWhileDriven ? FAILED : NO_CHANGE;
    }
    if (rc != 0) {
        error = "cannot lock " + found.path + ": " + strerror(rc);
        return FAILED;
    }
    if (grab && libevdev_grab(found.dev.get(), LIBEVDEV_GRAB) < 0)
        PrintError("cannot grab %s; the game sees the lever too", found.path.c_str());
    lever = std::move(found);
    lostName.clear();
    retriesLeft = 0;
    driven = Fd();
    drivenPath.clear();
    retry.ArmAt(-1);
    return FOUND;
}

LeverFinder::Outcome LeverFinder::OnHotplug(int64_t now)
{
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while ((n = read(hotplug.Get(), buffer, sizeof buffer)) > 0) {
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
        error = std::string("cannot watch for the lever: ") + strerror(errno);
        return FAILED;
    }
    if (Attached())
        return NO_CHANGE;
    // A folder or link of a --device path may have just appeared: watch it too.
    Outcome outcome = AddWatches() ? SearchAndClaim(false) : FAILED;
    // A new node may not be readable yet: udev sets its permissions a moment later.
    if (outcome == NO_CHANGE || outcome == DRIVEN)
        retriesLeft = RETRIES;
    ArmRetry(now);
    return outcome;
}

LeverFinder::Outcome LeverFinder::OnRetry(int64_t now)
{
    retry.Drain();
    if (Attached())
        return NO_CHANGE;
    Outcome outcome = NO_CHANGE;
    if (retriesLeft > 0 || DriverGone())
        outcome = SearchAndClaim(false);
    if (retriesLeft > 0)
        retriesLeft--;
    ArmRetry(now);
    return outcome;
}

LeverFinder::Outcome LeverFinder::OnLost()
{
    // A lever named by a link is waited for there: another device may have the same name.
    if (!IsDeviceLink(device))
        lostName = lever.name;
    lever = Lever();
    Outcome outcome = AddWatches() ? SearchAndClaim(false) : FAILED;
    ArmRetry(Now());
    return outcome;
}
