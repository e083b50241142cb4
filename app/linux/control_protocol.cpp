// The control socket's lines, written and read with nlohmann's JSON.
#include "control_protocol.h"

#include <stdio.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "../../config/gate_map.h"
#include "../../core/learn.h"

// Kept in the order written, so that `type` comes first and a person can read the lines.
using json = nlohmann::ordered_json;

namespace {

// One line: compact, and text that is not UTF-8 (a device's name) with U+FFFD for the bad bytes.
std::string Line(const json &message)
{
    return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

json Hat(uint32_t angle)
{
    const char *name = HatName(angle);
    return *name ? json(name) : json(nullptr);
}

json Buttons(const Sample &sample)
{
    json held = json::array();
    for (int b = 1; b <= MAX_BUTTONS; b++)
        if (ButtonHeld(sample, b))
            held.push_back(b);
    return held;
}

json Gates(const GateMap &map)
{
    json gates = json::array();
    for (int32_t gear : {1, 2, 3, 4, 5, 6, 7, int(GEAR_REVERSE)})
        for (int i = 0; i < map.count; i++) {
            const GateEntry &e = map.entries[i];
            if (e.gear != gear)
                continue;
            if (e.input.kind == GateInput::BUTTON)
                gates.push_back({{"gear", gear}, {"button", e.input.value}});
            else
                gates.push_back({{"gear", gear}, {"hat", HatName(e.input.value)}});
        }
    return gates;
}

// A setting's value as the config file would hold it after '='.
bool FileValue(const std::string &key, const json &value, std::string *text, std::string *error)
{
    if (value.is_boolean()) {
        *text = value.get<bool>() ? "true" : "false";
        return true;
    }
    if (value.is_number_unsigned()) {
        *text = std::to_string(value.get<uint64_t>());
        return true;
    }
    if (value.is_number_integer()) {
        *text = std::to_string(value.get<int64_t>());
        return true;
    }
    if (value.is_string()) {
        *text = value.get<std::string>();
        for (unsigned char c : *text)
            if (c < 0x20 || c == 0x7f) {
                *error = key + ": the text holds a control character";
                return false;
            }
        return true;
    }
    *error = key + ": " + Line(value).substr(0, 40) + " is not a value: give a text, a whole number, true or false";
    return false;
}

bool ReadSet(const json &m, const std::vector<std::string> &fixed, Command *c, std::string *error)
{
    auto settings = m.find("settings");
    if (settings == m.end() || !settings->is_object() || settings->empty()) {
        *error = "set: 'settings' must be an object with at least one setting";
        return false;
    }
    for (auto &[key, value] : settings->items()) {
        if (!IsSettingKey(key)) {
            *error = "set: '" + key + "' is not a setting; the settings are " + SettingKeyList;
            return false;
        }
        std::string text;
        if (!FileValue(key, value, &text, error))
            return false;
        c->settings.push_back({key, text});
        c->choosesLever = c->choosesLever || key == "device" || key == "grab";
    }
    if (settings->contains("plate") && settings->contains("gate")) {
        *error = "set: plate and gate cannot be set together: keep one of them";
        return false;
    }
    for (const auto &kv : c->settings)
        if (std::find(fixed.begin(), fixed.end(), kv.first) != fixed.end()) {
            *error = kv.first + ": set on gearvane's command line, which wins over the config file";
            return false;
        }
    return true;
}

// A field that must be there, of a kind `is` tells.
template <typename Is>
const json *Field(const json &m, const char *type, const char *key, Is is, const char *kind, std::string *error)
{
    auto field = m.find(key);
    if (field != m.end() && is(*field))
        return &*field;
    *error = std::string(type) + ": '" + key + "' " + (field == m.end() ? "is missing" : "is not " + std::string(kind));
    return nullptr;
}

const char *GearWords(int32_t gear)
{
    return gear == GEAR_NONE ? "neutral" : GearQuestion(gear);
}

}  // namespace

const char *HatName(uint32_t angle)
{
    static const char *const Names[] = {"up", "up-right", "right", "down-right", "down", "down-left", "left", "up-left"};
    return angle % 4500 == 0 && angle < 36000 ? Names[angle / 4500] : "";
}

bool LeverState::operator==(const LeverState &o) const
{
    return attached == o.attached && node == o.node && name == o.name && waiting == o.waiting && why == o.why &&
           SameSample(sample, o.sample) && hasHat == o.hasHat && decoded.gear == o.decoded.gear &&
           decoded.reset == o.decoded.reset;
}

bool DeviceEntry::operator==(const DeviceEntry &o) const
{
    return node == o.node && name == o.name && setting == o.setting && vendor == o.vendor && product == o.product &&
           buttons == o.buttons && hat == o.hat && readable == o.readable && driving == o.driving && why == o.why;
}

bool GameState::operator==(const GameState &o) const
{
    return gear == o.gear && std::string_view(source) == o.source && target == o.target && busy == o.busy;
}

std::string HelloLine(int pid, bool simulate, const std::string &config)
{
    return Line({{"type", "hello"},
                 {"protocol", CONTROL_PROTOCOL},
                 {"version", GEARVANE_VERSION},
                 {"pid", pid},
                 {"simulate", simulate},
                 {"config", config.empty() ? json(nullptr) : json(config)}});
}

std::string SettingsLine(const Settings &s, const std::vector<std::string> &fixed)
{
    bool plate = s.mapName == "standard" || s.mapName == "nascar";
    std::string telemetry = s.telemetryPort ? s.telemetryAddress + ":" + std::to_string(s.telemetryPort) : "off";
    return Line({{"type", "settings"},
                 {"device", s.device},
                 {"grab", s.grab},
                 {"max-gear", s.maxGear},
                 {"hold-ms", s.holdMs},
                 {"gap-ms", s.gapMs},
                 {"up-key", s.upKey},
                 {"down-key", s.downKey},
                 {"quiet", s.quiet},
                 {"plate", plate ? json(s.mapName) : json(nullptr)},
                 {"gate", plate ? json(nullptr) : json(s.mapName)},
                 {"gates", Gates(s.map)},
                 {"reset-button", s.map.resetButton},
                 {"telemetry", telemetry},
                 {"telemetry-wait-ms", s.telemetryWaitMs},
                 {"output", s.output == OUTPUT_SHIFTER ? "shifter" : "keyboard"},
                 {"fixed", fixed}});
}

std::string DevicesLine(const std::vector<DeviceEntry> &devices)
{
    json list = json::array();
    for (const DeviceEntry &d : devices) {
        json entry = {{"node", d.node}, {"name", d.name}, {"setting", d.setting}};
        if (d.readable) {
            char id[16];
            snprintf(id, sizeof id, "%04x:%04x", d.vendor & 0xffff, d.product & 0xffff);
            entry.update({{"id", id}, {"buttons", d.buttons}, {"hat", d.hat}, {"readable", true},
                          {"driving", d.driving}});
        } else {
            entry.update({{"readable", false}, {"why", d.why}});
        }
        list.push_back(entry);
    }
    return Line({{"type", "devices"}, {"devices", list}});
}

std::string LeverLine(const LeverState &l)
{
    if (!l.attached) {
        json m = {{"type", "lever"}, {"attached", false}, {"waiting", l.waiting}};
        if (!l.why.empty())
            m["why"] = l.why;
        return Line(m);
    }
    return Line({{"type", "lever"},
                 {"attached", true},
                 {"node", l.node},
                 {"name", l.name},
                 {"buttons", Buttons(l.sample)},
                 {"hat", l.hasHat ? Hat(l.sample.hat) : json(nullptr)},
                 {"gear", l.decoded.gear},
                 {"reset", l.decoded.reset}});
}

std::string GameLine(const GameState &g)
{
    return Line({{"type", "game"}, {"gear", g.gear}, {"source", g.source}, {"target", g.target}, {"busy", g.busy}});
}

std::string TapLine(int32_t direction, const std::string &key, int32_t from, int32_t to)
{
    return Line({{"type", "tap"}, {"shift", direction > 0 ? "up" : "down"}, {"key", key}, {"from", from}, {"to", to}});
}

std::string StatusLine(const std::string &text, int64_t timeMs, bool backlog)
{
    json m = {{"type", "status"}, {"text", text}, {"time", timeMs}};
    if (backlog)
        m["backlog"] = true;
    return Line(m);
}

std::string LearningLine(const LearnView &l)
{
    static const char *const States[] = {"off", "gears", "reset"};
    json m = {{"type", "learning"}, {"state", States[l.state]}};
    if (l.state == LEARN_GEARS)
        m["asking"] = l.asking;
    if (l.state != LEARN_OFF) {
        m["answers"] = Gates(l.answers);
        m["note"] = l.note;
    }
    if (l.state == LEARN_OFF && l.ended)
        m["ended"] = l.ended;
    return Line(m);
}

std::string DeviceInputLine(const std::string &node, const Sample &sample, bool hasHat)
{
    return Line({{"type", "device-input"},
                 {"node", node},
                 {"buttons", Buttons(sample)},
                 {"hat", hasHat ? Hat(sample.hat) : json(nullptr)}});
}

std::string ReplyLine(const std::string &id, bool ok, const std::string &error)
{
    json m = {{"type", "reply"}, {"id", json::parse(id, nullptr, false)}, {"ok", ok}};
    if (!ok)
        m["error"] = error;
    return Line(m);
}

std::string ByeLine(const char *reason)
{
    return Line({{"type", "bye"}, {"reason", reason}});
}

bool ReadRequest(std::string_view line, const std::vector<std::string> &fixed, Command *c, std::string *error)
{
    *c = Command();
    json m = json::parse(line, nullptr, false);
    if (m.is_discarded()) {
        *error = "not JSON";
        return false;
    }
    if (!m.is_object()) {
        *error = "not a JSON object";
        return false;
    }
    if (m.contains("id"))
        c->id = Line(m["id"]);
    auto type = m.find("type");
    if (type == m.end() || !type->is_string()) {
        *error = type == m.end() ? "no 'type'" : "'type' is not a text";
        return false;
    }
    const std::string t = type->get<std::string>();
    if (t == "ping") {
        c->type = Command::PING;
        c->name = "ping";
        return true;
    }
    if (t == "set") {
        c->type = Command::SET;
        c->name = "set";
        return ReadSet(m, fixed, c, error);
    }
    if (t == "set-gear") {
        c->type = Command::SET_GEAR;
        c->name = "set-gear";
        const json *gear = Field(
            m, "set-gear", "gear",
            [](const json &v) { return v.is_number_integer() && v.get<int64_t>() >= -1 && v.get<int64_t>() <= 7; },
            "a whole number from -1 (reverse) to 7", error);
        if (gear)
            c->gear = static_cast<int32_t>(gear->get<int64_t>());
        return gear != nullptr;
    }
    if (t == "learn") {
        static const struct {
            const char *action, *name;
            Command::Type type;
        } Actions[] = {{"start", "learn start", Command::LEARN_START},
                       {"skip", "learn skip", Command::LEARN_SKIP},
                       {"done", "learn done", Command::LEARN_DONE},
                       {"cancel", "learn cancel", Command::LEARN_CANCEL}};
        auto isAction = [](const json &v) {
            return v.is_string() && (v == "start" || v == "skip" || v == "done" || v == "cancel");
        };
        const json *action = Field(m, "learn", "action", isAction, "start, skip, done or cancel", error);
        for (const auto &a : Actions)
            if (action && *action == a.action) {
                c->type = a.type;
                c->name = a.name;
            }
        return action != nullptr;
    }
    if (t == "watch-devices") {
        c->type = Command::WATCH_DEVICES;
        c->name = "watch-devices";
        const json *on = Field(
            m, "watch-devices", "on", [](const json &v) { return v.is_boolean(); }, "true or false", error);
        if (on)
            c->on = on->get<bool>();
        return on != nullptr;
    }
    *error = "unknown type '" + t.substr(0, 40) + "': the requests are ping, set, set-gear, learn and watch-devices";
    return false;
}

bool ReadDaemonLine(std::string_view line, DaemonLine *out)
{
    json m = json::parse(line, nullptr, false);
    if (!m.is_object())
        return false;
    std::string type = m.value("type", "");
    *out = {type, m.value("ok", false), m.value(type == "bye" ? "reason" : "error", "")};
    return true;
}

std::string DescribeState(const std::vector<std::string> &lines)
{
    json hello, settings, lever, game, learning;
    std::vector<std::string> status;
    for (const std::string &line : lines) {
        json m = json::parse(line, nullptr, false);
        if (!m.is_object())
            continue;
        std::string type = m.value("type", "");
        if (type == "hello")
            hello = m;
        else if (type == "settings")
            settings = m;
        else if (type == "lever")
            lever = m;
        else if (type == "game")
            game = m;
        else if (type == "learning")
            learning = m;
        else if (type == "status")
            status.push_back(m.value("text", ""));
    }
    auto gear = [](const json &m, const char *key) {
        return std::string(GearWords(m.contains(key) && m[key].is_number_integer() ? m[key].get<int32_t>() : 0));
    };
    std::string text = "gearvane " + hello.value("version", "?") + ", pid " +
                       std::to_string(hello.value("pid", 0)) + (hello.value("simulate", false) ? ", simulated" : "") +
                       "\n";
    if (lever.value("attached", false))
        text += "lever: " + lever.value("node", "") + " (" + lever.value("name", "") + "), " + gear(lever, "gear") +
                "\n";
    else
        text += "lever: waiting for " +
                (lever.value("waiting", "").empty() ? std::string("a lever") : "'" + lever.value("waiting", "") + "'") +
                (lever.contains("why") ? ": " + lever.value("why", "") : "") + "\n";
    static const std::pair<const char *, const char *> Sources[] = {
        {"start", "nothing has said otherwise yet"}, {"counted", "counted from the taps sent"},
        {"reset", "after the reset input"},         {"user", "as set by hand"},
        {"telemetry", "reported by the game"}};
    std::string source = game.value("source", "");
    for (const auto &s : Sources)
        if (source == s.first)
            source = s.second;
    text += "game: " + gear(game, "gear") + " (" + source + ")";
    if (game.value("busy", false))
        text += ", shifting to " + gear(game, "target");
    text += "\n";
    if (learning.value("state", "off") != "off")
        text += "learning: " + (learning["state"] == "reset" ? std::string("the reset button") : gear(learning, "asking")) +
                " is asked\n";
    text += "config: " + (hello.contains("config") && hello["config"].is_string() ? hello["config"].get<std::string>()
                                                                                   : std::string("none"));
    text += "\nsettings:";
    for (auto &[key, v] : settings.items()) {
        if (!IsSettingKey(key) || v.is_null())
            continue;
        bool plain = v.is_string() && !v.get<std::string>().empty();
        text += std::string(" ") + key + " = " + (plain ? v.get<std::string>() : Line(v)) + ";";
    }
    if (text.back() == ';')
        text.pop_back();
    text += "\n";
    if (!status.empty())
        text += "last status lines:\n";
    for (const std::string &s : status)
        text += "  " + s + "\n";
    // For a terminal: no control sequences from a device's name.
    for (char &c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f)
            c = '?';
    return text;
}
