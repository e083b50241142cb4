// --learn on Linux: the lever's events and standard input feed the shared learn rules; the
// result is printed, and written to the config file if one was named.
#include "learn.h"

#include <errno.h>
#include <libevdev/libevdev.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "../../config/config_file.h"
#include "../../config/gate_map.h"
#include "../../core/learn.h"
#include "lever_search.h"
#include "options.h"
#include "poller.h"
#include "say.h"

namespace {

// The name as one shell word, so that the printed line can be pasted as it is.
std::string ShellWord(const std::string &s)
{
    std::string quoted = "'";
    for (char c : s)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Asks the gear that is asked now, if it was not asked already.
void Ask(const Learning &learning, int32_t *asked)
{
    if (!LearnDone(learning) && LearnGear(learning) != *asked)
        fprintf(stderr, "%s: move the lever there, or press Enter to skip\n", GearQuestion(LearnGear(learning)));
    *asked = LearnGear(learning);
}

// Feeds the lever's pending events to the learn rules. Returns false when the lever is gone.
bool ReadLever(const Lever &lever, Learning *learning, int32_t *asked)
{
    input_event event;
    int rc;
    while ((rc = libevdev_next_event(lever.dev.get(), LIBEVDEV_READ_FLAG_NORMAL, &event)) >= 0 || rc == -EINTR) {
        if (rc != LIBEVDEV_READ_STATUS_SUCCESS || event.type != EV_SYN || event.code != SYN_REPORT)
            continue;
        int32_t taken;
        if (LearnSample(learning, ReadSample(lever), &taken) == LEARN_TAKEN)
            fprintf(stderr, "that is %s already; try again\n", GearQuestion(taken));
        Ask(*learning, asked);
    }
    return rc == -EAGAIN;
}

// Runs the questions. Returns 0, or 1 after a failure, which it has reported.
int Question(const Lever &lever, Learning *learning)
{
    Poller poller;
    if (!poller.Open() || !poller.Watch(lever.fd.Get(), SRC_LEVER)) {
        PrintError("cannot watch the lever: %s", strerror(errno));
        return 1;
    }
    bool typing = poller.Watch(STDIN_FILENO, SRC_STDIN);
    bool ended = false;  // no more input: the questions left once its Enters are used are skipped
    int enters = 0, status = 0;
    int32_t asked = GEAR_NONE;
    Ask(*learning, &asked);
    if (!typing) {
        // epoll refuses a regular file or /dev/null, which never block: what they hold is all
        // that will be typed, so their end ends the questions instead of waiting for ever.
        char buffer[4096];
        ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        for (ssize_t i = 0; i < got; i++)
            enters += buffer[i] == '\n';
        ended = got == 0 || (got > 0 && read(STDIN_FILENO, buffer, 1) == 0);
    }
    while (!LearnDone(*learning) && status == 0) {
        if (enters > 0) {
            enters--;
            LearnSkip(learning);
            Ask(*learning, &asked);
            continue;
        }
        if (ended) {
            LearnEnd(learning);
            break;
        }
        Ready e;
        int n = poller.Wait(&e, 1, -1);
        if (n < 0) {
            PrintError("epoll_wait: %s", strerror(errno));
            status = 1;
        }
        if (n < 1 || status)
            continue;
        if (e.source == SRC_STDIN && typing) {
            char buffer[256];
            ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            for (ssize_t i = 0; i < got; i++)
                enters += buffer[i] == '\n';
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                ended = true;
                typing = false;
                poller.Unwatch(STDIN_FILENO);
            }
        } else if (e.source == SRC_LEVER && !ReadLever(lever, learning, &asked)) {
            PrintError("the lever is gone");
            status = 1;
        }
    }
    return status;
}

}  // namespace

int Learn(const Settings &s)
{
    LeverSearch found = SearchLevers(s.device, MATCH_NAMED);
    if (found.levers.empty()) {
        if (found.pathError)
            PrintError("%s", PathRefusal(s.device, found.pathError).c_str());
        else if (!found.unreadable.empty())
            PrintError("no lever found: cannot read %s: %s", found.unreadable[0].c_str(), ReadAdvice);
        else
            PrintError("no lever found: plug it in, or name it with --device (see --list-devices)");
        return 1;
    }
    Lever lever = std::move(found.levers[0]);
    found.levers.clear();
    // A lever that another program grabbed (a gearvane --grab) sends nothing: say so rather than wait.
    if (libevdev_grab(lever.dev.get(), LIBEVDEV_GRAB) < 0) {
        PrintError("%s (%s) is grabbed by another program (a gearvane --grab?); stop it to learn", lever.path.c_str(),
                   lever.name.c_str());
        return 1;
    }
    libevdev_grab(lever.dev.get(), LIBEVDEV_UNGRAB);
    fprintf(stderr, "Learning the gates of %s (%s). Answer each question by moving the lever.\n", lever.path.c_str(),
            lever.name.c_str());
    Learning learning;
    LearnStart(&learning, ReadSample(lever));
    int status = Question(lever, &learning);
    std::string identifier = LeverIdentifier(lever, s.device);
    lever = Lever();
    if (status)
        return status;
    if (learning.map.count == 0) {
        PrintError("no gear learned");
        return 1;
    }
    auto learned = LearnedSettings(identifier, learning.map);
    printf("--device %s --gate %s\n", ShellWord(identifier).c_str(), learned[1].second.c_str());
    if (fflush(stdout) != 0) {
        PrintError("standard output: %s", strerror(errno));
        status = 1;
    }
    if (!s.config.empty()) {
        std::string error;
        if (!SaveLearned(s.config, learned, KeyboardKeyCode, &error)) {
            PrintError("%s not written: %s", s.config.c_str(), error.c_str());
            return 1;
        }
        fprintf(stderr, "written to %s\n", s.config.c_str());
    }
    return status;
}
