// --learn: the lever answers each question with the button or hat direction it reports.
#include "learn.h"

#include <errno.h>
#include <libevdev/libevdev.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "../../config/gate_map.h"
#include "lever.h"

namespace {

const char *const Questions[] = {"1st gear", "2nd gear", "3rd gear", "4th gear", "5th gear",
                                 "6th gear", "7th gear", "reverse"};
const int32_t Gears[] = {1, 2, 3, 4, 5, 6, 7, GEAR_REVERSE};

// The input that `now` has and `before` had not: a button pressed (the lowest number) or
// the hat moved into one of the four directions. False when there is none.
bool NewInput(const Sample &before, const Sample &now, GateInput *input)
{
    for (int b = 1; b <= MAX_BUTTONS; b++)
        if (ButtonHeld(now, b) && !ButtonHeld(before, b)) {
            *input = {GateInput::BUTTON, static_cast<uint32_t>(b)};
            return true;
        }
    bool direction = now.hat == HAT_FORWARD || now.hat == HAT_RIGHT || now.hat == HAT_BACKWARD || now.hat == HAT_LEFT;
    if (direction && now.hat != before.hat) {
        *input = {GateInput::HAT, now.hat};
        return true;
    }
    return false;
}

Lever FindLever(const Settings &s, bool *found)
{
    *found = false;
    Lever lever;
    for (const std::string &node : CandidateNodes(s.device)) {
        if (OpenLever(node, &lever) != 0)
            continue;
        if (IsNamedLever(lever, s.device)) {
            *found = true;
            return lever;
        }
        CloseLever(&lever);
    }
    return lever;
}

// Replaces any plate or gate line of the config file with the gate map.
bool WriteConfig(const std::string &path, const std::string &map)
{
    std::ifstream in(path);
    std::ostringstream kept;
    std::string line;
    while (std::getline(in, line)) {
        std::string key = line.substr(0, line.find('='));
        key.erase(0, key.find_first_not_of(" \t"));
        key.erase(key.find_last_not_of(" \t") + 1);
        if (key != "gate" && key != "plate")
            kept << line << "\n";
    }
    // The folder too, as ~/.config/gearvane may not exist yet.
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    std::string temporary = path + ".new";
    std::ofstream out(temporary);
    out << kept.str() << "gate = \"" << map << "\"\n";
    out.close();
    return out && rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int Learn(const Settings &s)
{
    bool found;
    Lever lever = FindLever(s, &found);
    if (!found) {
        fprintf(stderr, "gearvane: no lever found: plug it in, or name it with --device (see --list-devices)\n");
        return 1;
    }
    fprintf(stderr, "Learning the gates of %s (%s). Answer each question by moving the lever.\n", lever.path.c_str(),
            lever.name.c_str());
    int epoll = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.u32 = 0;
    epoll_ctl(epoll, EPOLL_CTL_ADD, lever.fd, &ev);
    ev.data.u32 = 1;
    epoll_ctl(epoll, EPOLL_CTL_ADD, STDIN_FILENO, &ev);

    GateMap map = {};
    Sample before = ReadSample(lever);
    std::string pending;  // typed but not yet used
    int status = 0;
    for (int q = 0; q < 8 && status == 0; q++) {
        fprintf(stderr, "%s: move the lever there, or press Enter to skip\n", Questions[q]);
        bool answered = false;
        while (!answered && status == 0) {
            size_t newline = pending.find('\n');
            if (newline != std::string::npos) {
                pending.erase(0, newline + 1);
                break;  // skipped
            }
            epoll_event e;
            if (epoll_wait(epoll, &e, 1, -1) < 1)
                continue;
            if (e.data.u32 == 1) {
                char buffer[256];
                ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
                if (n > 0) {
                    pending.append(buffer, n);
                    continue;
                }
                // End of input: the remaining questions are skipped.
                epoll_ctl(epoll, EPOLL_CTL_DEL, STDIN_FILENO, nullptr);
                q = 8;
                break;
            }
            input_event event;
            int rc;
            while ((rc = libevdev_next_event(lever.dev, LIBEVDEV_READ_FLAG_NORMAL, &event)) >= 0 ||
                   rc == -EINTR) {
                if (rc != LIBEVDEV_READ_STATUS_SUCCESS || event.type != EV_SYN || event.code != SYN_REPORT)
                    continue;
                Sample now = ReadSample(lever);
                GateInput got;
                if (!answered && NewInput(before, now, &got)) {
                    int used = -1;
                    for (int i = 0; i < map.count; i++)
                        if (map.entries[i].input.kind == got.kind && map.entries[i].input.value == got.value)
                            for (int k = 0; k < 8; k++)
                                if (Gears[k] == map.entries[i].gear)
                                    used = k;
                    if (used >= 0) {
                        fprintf(stderr, "that is %s already; try again\n", Questions[used]);
                    } else {
                        map.entries[map.count++] = {got, Gears[q]};
                        answered = true;
                    }
                }
                before = now;
            }
            if (rc != -EAGAIN && rc != LIBEVDEV_READ_STATUS_SYNC) {
                fprintf(stderr, "gearvane: the lever is gone\n");
                status = 1;
            }
        }
    }
    CloseLever(&lever);
    close(epoll);
    if (status)
        return status;
    if (map.count == 0) {
        fprintf(stderr, "gearvane: no gear learned\n");
        return 1;
    }
    char text[200];
    FormatGateMap(map, text, sizeof text);
    printf("--gate %s\n", text);
    if (!s.config.empty()) {
        if (!WriteConfig(s.config, text)) {
            fprintf(stderr, "gearvane: cannot write %s: %s\n", s.config.c_str(), strerror(errno));
            return 1;
        }
        fprintf(stderr, "written to %s\n", s.config.c_str());
    }
    return 0;
}
