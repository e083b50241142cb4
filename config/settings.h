// The settings that gearvane's front ends share: their values and checks, the config file's
// text, and how the command line and the file join. Platform-free: the front ends read the
// file and resolve key names.
#ifndef GEARVANE_SETTINGS_H
#define GEARVANE_SETTINGS_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../core/gate.h"
#include "../core/tapper.h"

enum Mode { MODE_RUN, MODE_LIST_DEVICES, MODE_LEARN, MODE_SIMULATE, MODE_STATUS, MODE_SET_GEAR };

// Where the shifts go: the shift keys on a keyboard, or buttons 1 and 2 of a game controller.
enum Output { OUTPUT_KEYBOARD, OUTPUT_SHIFTER };

struct Settings {
    Mode mode = MODE_RUN;
    std::string device;  // an event node (a path), a part of a device name, or empty: the first lever
    bool grab = false;
    bool waitForLever = false;  // Linux: a lever that another gearvane drives is waited for
    GateMap map = StandardPlate;
    std::string mapName = "standard";  // standard, nascar or the gate map's text
    int maxGear = 6;
    std::string upKey = "KEY_PAGEUP", downKey = "KEY_PAGEDOWN";
    int upCode = 0, downCode = 0;  // as the front end's KeyLookup gave them
    Output output = OUTPUT_KEYBOARD;
    int vjoyDevice = 0;  // gearvane-tray's shifter: vJoy's device 1..16; 0, the first free one
    int holdMs = 40, gapMs = 40;
    bool quiet = false;
    // The game's telemetry: UDP on telemetryAddress:telemetryPort, off when the port is 0.
    std::string telemetryAddress = "127.0.0.1";  // dotted IPv4; 0.0.0.0 takes packets from other hosts too
    uint32_t telemetryIp = 0x7f000001;           // the same in host byte order
    int telemetryPort = 0;
    int telemetryWaitMs = TELEMETRY_WAIT_MS;
    std::string config;  // the config file read, empty if none
    int32_t setGear = GEAR_NONE;  // what --set-gear says the game is in
};

enum { EXIT_USAGE = 2 };

// The largest config file read; anything bigger is not one.
enum { CONFIG_MAX_BYTES = 64 * 1024 };

// One setting as given: a line of a config file or an option of the command line.
struct SettingValue {
    std::string key;    // the file's name for it: "max-gear"
    std::string value;  // without quotes; "true" for a flag
    std::string where;  // for messages: "--max-gear", or "FILE:LINE: max-gear"
};

// The keys a config file may hold, as a comma list for messages.
extern const char SettingKeyList[];

// Whether `key` is one that a config file may hold.
bool IsSettingKey(const std::string &key);

// Reads a config file's text: `key = value` lines, blank lines, comments from '#' or ';' at
// the start of a line or after a blank, values optionally in double quotes (inside them \"
// and \\ stand for " and \). CRLF line ends and a UTF-8 byte order mark are taken too.
// `name` is the file's name in messages. Each known key may be given once. Returns false
// with the first error, as "NAME:LINE: ...", in *error; values are checked by JoinSettings.
bool ReadConfigText(const std::string &text, const std::string &name, std::vector<SettingValue> *values,
                    std::string *error);

// A flag's value: true, yes, on or 1, or false, no, off or 0, in any case. False when it is
// neither.
bool ReadFlag(const std::string &text, bool *on);

// The code a front end sends for a key name such as "KEY_PAGEUP", or -1 when the name is not
// a keyboard key that it can send.
using KeyLookup = std::function<int(const std::string &name)>;

// Joins the command line's settings and the config file's into *settings, over its current
// values (the defaults of a fresh Settings): the command line wins, and a plate or gate
// map on the command line replaces the file's choice of either. Checks every value
// (numbers are decimal). Sets every field but mode and config. Returns false with a
// message that names the option or FILE:LINE and the key in *error.
bool JoinSettings(const std::vector<SettingValue> &commandLine, const std::vector<SettingValue> &file,
                  const KeyLookup &keys, Settings *settings, std::string *error);

// Every mistake of a config file's text, as ReadConfigText and JoinSettings would each
// report the first: the lines that cannot be read, then the values that are wrong, joined
// with the command line's settings, all in the order of the file's lines (the command
// line's own mistakes first). Empty when the file can be used.
std::vector<std::string> ConfigMistakes(const std::string &text, const std::string &name,
                                        const std::vector<SettingValue> &commandLine, const KeyLookup &keys);

// The scheduler's timing from the settings, in units of `perMs` a millisecond: the game's
// reports count only when telemetry is on.
TapTiming TimingOf(const Settings &settings, int64_t perMs);

// The config text with the given keys set: each key's first line is replaced where it is,
// its other lines dropped, and a key without one is added at the end. Setting gate drops
// plate and vice versa. Comments, other lines and the text's line ends (LF or CRLF) stay.
std::string RewriteConfig(const std::string &text, const std::vector<std::pair<std::string, std::string>> &set);

// What learning a lever gives: what identifies it (a name or a link) for `device` and the
// map for `gate`, ready for RewriteConfig.
std::vector<std::pair<std::string, std::string>> LearnedSettings(const std::string &device, const GateMap &map);

#endif
