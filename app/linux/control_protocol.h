// The control socket's messages as lines of JSON, and the requests read from a client's
// lines (docs/control-protocol.md). No I/O: the daemon hands in its state, the socket
// carries the lines.
#ifndef GEARVANE_CONTROL_PROTOCOL_H
#define GEARVANE_CONTROL_PROTOCOL_H

#include <stdint.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../../config/settings.h"
#include "../../core/gate.h"

enum { CONTROL_PROTOCOL = 1 };

// The hat of a sample as the protocol names it ("up", "down-left"), or "" when centred.
const char *HatName(uint32_t angle);

// What a client is told of the lever gearvane drives.
struct LeverState {
    bool attached = false;
    std::string node, name;
    std::string waiting, why;  // when not attached: the device setting, and what is known
    Sample sample = {};
    bool hasHat = false;
    Decoded decoded = {GEAR_NONE, false};

    bool operator==(const LeverState &o) const;
};

// A device that can be a lever, as `devices` lists it.
struct DeviceEntry {
    std::string node, name;
    std::string setting;  // what `device` is set to when the user chooses it
    unsigned vendor = 0, product = 0;
    int buttons = 0;
    bool hat = false, readable = true, driving = false;
    std::string why;  // when it cannot be read

    bool operator==(const DeviceEntry &o) const;
};

struct GameState {
    int32_t gear = GEAR_NONE;
    const char *source = "start";  // start, counted, reset, user, telemetry
    int32_t target = GEAR_NONE;
    bool busy = false;

    bool operator==(const GameState &o) const;
};

enum LearnState { LEARN_OFF, LEARN_GEARS, LEARN_RESET };

struct LearnView {
    LearnState state = LEARN_OFF;
    int32_t asking = GEAR_NONE;
    GateMap answers = {};
    std::string note;
    const char *ended = nullptr;  // how learning ended, once it has: saved, cancelled, ...
};

std::string HelloLine(int pid, bool simulate, const std::string &config);
// `fixed`: the keys the command line sets.
std::string SettingsLine(const Settings &s, const std::vector<std::string> &fixed);
std::string DevicesLine(const std::vector<DeviceEntry> &devices);
std::string LeverLine(const LeverState &lever);
std::string GameLine(const GameState &game);
std::string TapLine(int32_t direction, const std::string &key, int32_t from, int32_t to);
// `timeMs`: Unix time in milliseconds.
std::string StatusLine(const std::string &text, int64_t timeMs, bool backlog);
std::string LearningLine(const LearnView &learning);
std::string DeviceInputLine(const std::string &node, const Sample &sample, bool hasHat);
// `id`: the request's id as JSON text ("null" for none).
std::string ReplyLine(const std::string &id, bool ok, const std::string &error);
std::string ByeLine(const char *reason);

// A client's request as the daemon is to carry it out.
struct Command {
    enum Type { PING, SET, SET_GEAR, LEARN_START, LEARN_SKIP, LEARN_DONE, LEARN_CANCEL, WATCH_DEVICES } type = PING;
    const char *name = "";    // as the client named it ("learn skip"), for the errors
    std::string id = "null";  // as JSON text, for the reply
    std::vector<std::pair<std::string, std::string>> settings;  // SET: each key and its value as the file holds it
    bool choosesLever = false;  // SET: `device` or `grab` is among them, so the lever is looked for again
    int32_t gear = GEAR_NONE;   // SET_GEAR
    bool on = false;            // WATCH_DEVICES
};

// Reads one line of a client (without its newline). False, with what is wrong in *error,
// when it is no request that can be carried out: a `set` of a key in `fixed` (the keys the
// command line sets, which win over the config file) included. command->id is then the
// request's id as far as it could be read.
bool ReadRequest(std::string_view line, const std::vector<std::string> &fixed, Command *command, std::string *error);

// A daemon's line as --status and --set-gear read it: its type, and for a reply whether
// it is ok and why not (for a bye: its reason). False when the line is no JSON object.
struct DaemonLine {
    std::string type;
    bool ok = false;
    std::string error;
};
bool ReadDaemonLine(std::string_view line, DaemonLine *out);

// What a client is sent on connect (the lines before the reply to its ping), as text for a
// person: the version, the lever, the game's gear, the settings and the last status lines.
std::string DescribeState(const std::vector<std::string> &lines);

#endif
