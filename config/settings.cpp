// The settings model: the config file's text, the checks of every value, and the join of
// the command line with the file.
#include "settings.h"

#include <ctype.h>
#include <stdlib.h>

#include <algorithm>

#include "gate_map.h"
#include "text.h"

namespace {

const char *const Keys[] = {"device",   "grab",    "plate",  "gate",      "max-gear",          "up-key", "down-key",
                            "hold-ms",  "gap-ms",  "quiet",  "telemetry", "telemetry-wait-ms", "output",
                            "vjoy-device"};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Text from the user in quotes for a message, cut short if long.
std::string Shown(const std::string &s)
{
    std::string shown = "'";
    shown += s.size() > 40 ? s.substr(0, 40) + "..." : s;
    return shown + "'";
}

// The text's lines without their line ends, and whether it used CRLF.
std::vector<std::string> Lines(const std::string &text, bool *crlf)
{
    std::vector<std::string> lines;
    *crlf = text.find("\r\n") != std::string::npos;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

const char Bom[] = "\xEF\xBB\xBF";

// The key of a `key = value` line, or "" for a blank line, a comment or anything else.
std::string KeyOf(const std::string &line)
{
    std::string t(Trim(line));
    if (t.empty() || t[0] == '#' || t[0] == ';' || t[0] == '[')
        return "";
    size_t equals = t.find('=');
    return equals == std::string::npos ? "" : std::string(Trim(t.substr(0, equals)));
}

// The value after '=': quoted, or up to a comment. False with the reason when it is malformed.
bool ReadValue(const std::string &raw, std::string *value, std::string *reason)
{
    std::string t(Trim(raw));
    if (t.empty() || t[0] != '"') {
        for (size_t i = 1; i < t.size(); i++)
            if ((t[i] == '#' || t[i] == ';') && IsBlank(t[i - 1])) {
                t = Trim(t.substr(0, i));
                break;
            }
        if (!t.empty() && (t[0] == '#' || t[0] == ';'))
            t.clear();
        *value = t;
        return true;
    }
    value->clear();
    size_t i = 1;
    for (; i < t.size() && t[i] != '"'; i++) {
        if (t[i] == '\\' && i + 1 < t.size() && (t[i + 1] == '"' || t[i + 1] == '\\'))
            i++;
        *value += t[i];
    }
    if (i == t.size()) {
        *reason = "the closing quote is missing";
        return false;
    }
    std::string rest(Trim(t.substr(i + 1)));
    if (!rest.empty() && rest[0] != '#' && rest[0] != ';') {
        *reason = Shown(rest) + " follows the closing quote";
        return false;
    }
    return true;
}

const SettingValue *Find(const std::vector<SettingValue> &values, const char *key)
{
    const SettingValue *found = nullptr;
    for (const SettingValue &v : values)
        if (v.key == key)
            found = &v;
    return found;
}

// The command line's value, else the file's, else null.
const SettingValue *Pick(const std::vector<SettingValue> &cli, const std::vector<SettingValue> &file, const char *key)
{
    const SettingValue *v = Find(cli, key);
    return v ? v : Find(file, key);
}

// Sets *error to `message` after where `v` was given; false, for the check to return.
bool RefuseValue(std::string *error, const SettingValue &v, const std::string &message)
{
    *error = v.where + ": " + message;
    return false;
}

// A decimal number in min..max, and nothing else: no sign, no hex, no unit.
bool Number(const SettingValue &v, int min, int max, int *out, std::string *error)
{
    bool digits = !v.value.empty() && v.value.size() <= 9;
    for (char c : v.value)
        digits = digits && c >= '0' && c <= '9';
    int n = digits ? atoi(v.value.c_str()) : -1;
    if (!digits || n < min || n > max)
        return RefuseValue(error, v,
                    Shown(v.value) + " is not a decimal number from " + std::to_string(min) + " to " +
                        std::to_string(max));
    *out = n;
    return true;
}

bool Flag(const SettingValue &v, bool *out, std::string *error)
{
    return ReadFlag(v.value, out) || RefuseValue(error, v, Shown(v.value) + " is neither true nor false");
}

bool Key(const SettingValue &v, const KeyLookup &keys, std::string *name, int *code, std::string *error)
{
    int c = keys(v.value);
    if (c < 0)
        return RefuseValue(error, v,
                    Shown(v.value) + " is not a keyboard key that gearvane can send; use a name such as "
                                     "KEY_PAGEUP or KEY_E");
    *name = v.value;
    *code = c;
    return true;
}

// The plate or gate map, from the one place that chose it.
bool Map(const std::vector<SettingValue> &source, bool commandLine, Settings *s, std::string *error)
{
    const SettingValue *plate = Find(source, "plate"), *gate = Find(source, "gate");
    if (plate && gate) {
        *error = commandLine ? "--plate and --gate cannot be used together: --plate chooses a legacy plate, --gate "
                               "maps each gear"
                             : gate->where + ": plate is set too; keep one of plate and gate";
        return false;
    }
    if (gate) {
        char message[200];
        if (!ParseGateMap(gate->value.c_str(), &s->map, message, sizeof message))
            return RefuseValue(error, *gate, message);
        s->mapName = gate->value;
    } else if (plate) {
        std::string name = Lower(plate->value);
        if (name != "standard" && name != "nascar")
            return RefuseValue(error, *plate, Shown(plate->value) + " is not a plate: standard or nascar");
        s->map = name == "nascar" ? NascarPlate : StandardPlate;
        s->mapName = name;
    }
    return true;
}

// A decimal number of at most `digits` digits, without sign or leading zero.
bool Decimal(const std::string &s, size_t digits, unsigned *n)
{
    if (s.empty() || s.size() > digits || (s[0] == '0' && s.size() > 1))
        return false;
    *n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        *n = *n * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

// "[ADDRESS:]PORT", ADDRESS a dotted IPv4 address; "off" or nothing turns telemetry off.
bool Telemetry(const SettingValue &v, Settings *s, std::string *error)
{
    std::string value = Lower(v.value);
    if (value.empty() || value == "off") {
        s->telemetryPort = 0;
        return true;
    }
    const std::string usage =
        " is neither a port from 1 to 65535 nor ADDRESS:PORT with an IPv4 address, as in 127.0.0.1:5300";
    size_t colon = value.rfind(':');
    if (colon != std::string::npos && value.find(':') != colon)
        return RefuseValue(error, v, Shown(v.value) + " is an IPv6 address: the games send to IPv4 addresses");
    unsigned port;
    if (!Decimal(value.substr(colon + 1), 5, &port) || port < 1 || port > 65535)
        return RefuseValue(error, v, Shown(v.value) + usage);
    uint32_t ip = 0x7f000001;
    if (colon != std::string::npos) {
        std::string address = value.substr(0, colon);
        ip = 0;
        size_t start = 0;
        for (int part = 0; part < 4; part++) {
            size_t end = part < 3 ? address.find('.', start) : address.size();
            unsigned n;
            if (end == std::string::npos || !Decimal(address.substr(start, end - start), 3, &n) || n > 255)
                return RefuseValue(error, v, Shown(v.value) + usage);
            ip = ip << 8 | n;
            start = end + 1;
        }
    }
    s->telemetryIp = ip;
    s->telemetryAddress = std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 255) + "." +
                          std::to_string(ip >> 8 & 255) + "." + std::to_string(ip & 255);
    s->telemetryPort = static_cast<int>(port);
    return true;
}

std::string Quoted(const std::string &value)
{
    std::string q = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\')
            q += '\\';
        q += c;
    }
    return q + "\"";
}

// Names and gate maps are text; numbers, keys and words read as well without quotes.
std::string ConfigLine(const std::string &key, const std::string &value)
{
    bool plain = key != "device" && key != "gate" && !value.empty();
    for (char c : value)
        plain = plain && (isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.');
    return key + " = " + (plain ? value : Quoted(value));
}

}  // namespace

bool IsSettingKey(const std::string &key)
{
    for (const char *k : Keys)
        if (key == k)
            return true;
    return false;
}

bool ReadFlag(const std::string &text, bool *on)
{
    std::string s = Lower(text);
    bool yes = s == "true" || s == "yes" || s == "on" || s == "1";
    if (!yes && s != "false" && s != "no" && s != "off" && s != "0")
        return false;
    *on = yes;
    return true;
}

const char SettingKeyList[] =
    "device, grab, plate, gate, max-gear, up-key, down-key, hold-ms, gap-ms, quiet, telemetry, telemetry-wait-ms, "
    "output, vjoy-device";

namespace {

// Reads every line; a line at fault is left out and its mistake added to *mistakes.
void ReadLines(const std::string &text, const std::string &name, std::vector<SettingValue> *values,
               std::vector<int> *lineOf, std::vector<std::string> *mistakes)
{
    bool crlf;
    std::vector<std::string> lines = Lines(text.compare(0, 3, Bom) == 0 ? text.substr(3) : text, &crlf);
    std::vector<SettingValue> &read = *values;
    for (size_t i = 0; i < lines.size(); i++) {
        std::string at = name + ":" + std::to_string(i + 1) + ": ";
        std::string line(Trim(lines[i]));
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (HasControl(line)) {
            mistakes->push_back(at + "the line holds a control character: this is not a text file");
            continue;
        }
        if (line[0] == '[') {
            mistakes->push_back(at + Shown(line) + ": the config file has no sections; write key = value lines");
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            mistakes->push_back(at + Shown(line) + " is not of the form key = value");
            continue;
        }
        std::string key(Trim(line.substr(0, equals)));
        if (!IsSettingKey(key)) {
            mistakes->push_back(at + Shown(key) + " is not a setting; the settings are " + SettingKeyList);
            continue;
        }
        int first = 0;
        for (size_t k = 0; k < read.size(); k++)
            if (read[k].key == key)
                first = (*lineOf)[k];
        if (first) {
            mistakes->push_back(at + key + " is set on line " + std::to_string(first) + " already");
            continue;
        }
        SettingValue v = {key, "", at + key};
        std::string reason;
        if (!ReadValue(line.substr(equals + 1), &v.value, &reason)) {
            mistakes->push_back(v.where + ": " + reason);
            continue;
        }
        read.push_back(v);
        lineOf->push_back(static_cast<int>(i + 1));
    }
}

// Checks every value given and joins them into *s; each mistake is added to *mistakes, and a
// setting at fault keeps the value it had.
void Join(const std::vector<SettingValue> &cli, const std::vector<SettingValue> &file, const KeyLookup &keys,
          Settings *settings, std::vector<std::string> *mistakes)
{
    Settings &s = *settings;
    std::string e;
    auto check = [&](bool ok) {
        if (!ok)
            mistakes->push_back(e);
    };
    const SettingValue *v;
    if ((v = Pick(cli, file, "device")))
        s.device = v->value;
    if ((v = Pick(cli, file, "grab")))
        check(Flag(*v, &s.grab, &e));
    if ((v = Pick(cli, file, "quiet")))
        check(Flag(*v, &s.quiet, &e));
    if ((v = Pick(cli, file, "max-gear")))
        check(Number(*v, 4, 7, &s.maxGear, &e));
    if ((v = Pick(cli, file, "hold-ms")))
        check(Number(*v, 1, 1000, &s.holdMs, &e));
    if ((v = Pick(cli, file, "gap-ms")))
        check(Number(*v, 0, 1000, &s.gapMs, &e));
    if ((v = Pick(cli, file, "telemetry")))
        check(Telemetry(*v, &s, &e));
    if ((v = Pick(cli, file, "telemetry-wait-ms")))
        check(Number(*v, 50, 2000, &s.telemetryWaitMs, &e));
    if ((v = Pick(cli, file, "output"))) {
        std::string output = Lower(v->value);
        if (output != "keyboard" && output != "shifter")
            check(RefuseValue(&e, *v, Shown(v->value) + " is not an output: keyboard or shifter"));
        else
            s.output = output == "shifter" ? OUTPUT_SHIFTER : OUTPUT_KEYBOARD;
    }
    if ((v = Pick(cli, file, "vjoy-device")))
        check(Number(*v, 1, 16, &s.vjoyDevice, &e));
    // The file's map is checked even when the command line's replaces it: it is still wrong.
    check(Map(file, false, &s, &e));
    if (Find(cli, "plate") || Find(cli, "gate"))
        check(Map(cli, true, &s, &e));

    const SettingValue up = {"up-key", s.upKey, "up-key"}, down = {"down-key", s.downKey, "down-key"};
    const SettingValue *upGiven = Pick(cli, file, "up-key"), *downGiven = Pick(cli, file, "down-key");
    bool upOk = Key(upGiven ? *upGiven : up, keys, &s.upKey, &s.upCode, &e);
    check(upOk);
    bool downOk = Key(downGiven ? *downGiven : down, keys, &s.downKey, &s.downCode, &e);
    check(downOk);
    if (upOk && downOk && s.upCode == s.downCode)
        check(RefuseValue(&e, downGiven ? *downGiven : *upGiven,
                          s.downKey + " is the up key too: the up and down keys must be different keys"));
}

// The line of the config file that a mistake names ("NAME:LINE: ..."), or 0.
int MistakeLine(const std::string &mistake, const std::string &name)
{
    if (mistake.compare(0, name.size() + 1, name + ":") != 0)
        return 0;
    return atoi(mistake.c_str() + name.size() + 1);
}

}  // namespace

bool ReadConfigText(const std::string &text, const std::string &name, std::vector<SettingValue> *values,
                    std::string *error)
{
    std::vector<SettingValue> read;
    std::vector<int> lineOf;
    std::vector<std::string> mistakes;
    ReadLines(text, name, &read, &lineOf, &mistakes);
    if (!mistakes.empty()) {
        *error = mistakes[0];
        return false;
    }
    *values = read;
    return true;
}

bool JoinSettings(const std::vector<SettingValue> &cli, const std::vector<SettingValue> &file,
                  const KeyLookup &keys, Settings *settings, std::string *error)
{
    Settings s = *settings;
    std::vector<std::string> mistakes;
    Join(cli, file, keys, &s, &mistakes);
    if (!mistakes.empty()) {
        *error = mistakes[0];
        return false;
    }
    *settings = s;
    return true;
}

std::vector<std::string> ConfigMistakes(const std::string &text, const std::string &name,
                                        const std::vector<SettingValue> &commandLine, const KeyLookup &keys)
{
    std::vector<SettingValue> values;
    std::vector<int> lineOf;
    std::vector<std::string> mistakes;
    ReadLines(text, name, &values, &lineOf, &mistakes);
    Settings s;
    Join(commandLine, values, keys, &s, &mistakes);
    std::stable_sort(mistakes.begin(), mistakes.end(), [&](const std::string &a, const std::string &b) {
        return MistakeLine(a, name) < MistakeLine(b, name);
    });
    return mistakes;
}

std::string RewriteConfig(const std::string &text, const std::vector<std::pair<std::string, std::string>> &set)
{
    bool bom = text.compare(0, 3, Bom) == 0, crlf;
    std::vector<std::string> lines = Lines(bom ? text.substr(3) : text, &crlf);
    const char *eol = crlf ? "\r\n" : "\n";
    std::vector<std::string> dropped;
    for (const auto &kv : set) {
        if (kv.first == "gate")
            dropped.push_back("plate");
        if (kv.first == "plate")
            dropped.push_back("gate");
    }
    std::vector<bool> written(set.size(), false);
    std::string out = bom ? Bom : "";
    for (const std::string &line : lines) {
        std::string key = KeyOf(line);
        bool keep = true;
        for (size_t i = 0; i < set.size(); i++)
            if (!key.empty() && set[i].first == key) {
                if (!written[i])
                    out += ConfigLine(key, set[i].second) + eol;
                written[i] = true;
                keep = false;
            }
        for (const std::string &d : dropped)
            keep = keep && key != d;
        if (keep)
            out += line + eol;
    }
    for (size_t i = 0; i < set.size(); i++)
        if (!written[i])
            out += ConfigLine(set[i].first, set[i].second) + eol;
    return out;
}

TapTiming TimingOf(const Settings &s, int64_t perMs)
{
    TapTiming timing = {s.holdMs * perMs, s.gapMs * perMs};
    if (s.telemetryPort) {
        timing.wait = s.telemetryWaitMs * perMs;
        timing.fresh = TELEMETRY_FRESH_MS * perMs;
    }
    return timing;
}

std::vector<std::pair<std::string, std::string>> LearnedSettings(const std::string &device, const GateMap &map)
{
    char text[200];
    FormatGateMap(map, text, sizeof text);
    return {{"device", device}, {"gate", text}};
}
