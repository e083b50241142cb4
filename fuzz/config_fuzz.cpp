// Fuzzes the configuration text readers with arbitrary bytes: the timing file's lines and
// values, gate maps and config files, which come straight from users.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "config/gate_map.h"
#include "config/settings.h"
#include "config/timing.h"

static void Require(bool condition)
{
    if (!condition)
        abort();
}

// Each line is a read of at most 19 bytes, stopping after a line feed, so it is a run of
// bytes of the text that starts at the text's start or right after the first line.
static void CheckTiming(const char *data, size_t size)
{
    TimingLines lines;
    SplitTimingText(data, size, &lines);
    size_t first = strnlen(lines.first, TIMING_LINE_SIZE);
    size_t second = strnlen(lines.second, TIMING_LINE_SIZE);
    Require(first < TIMING_LINE_SIZE && second < TIMING_LINE_SIZE);
    Require(memcmp(lines.first, data, first) == 0);
    Require(!memchr(lines.first, '\n', first) || lines.first[first - 1] == '\n');
    SpinCountOf(lines.first);
    SpinCountOf(lines.second);
}

// A map that reads must write back as text that reads as the same map.
static void CheckGateMap(const char *data, size_t size)
{
    std::string text(data, size);
    GateMap map, again;
    char error[200], written[200], rewritten[200];
    if (!ParseGateMap(text.c_str(), &map, error, sizeof error)) {
        Require(strlen(error) > 0);
        return;
    }
    Require(map.count >= 1 && map.count <= MAX_GATE_ENTRIES && !map.exact);
    FormatGateMap(map, written, sizeof written);
    Require(ParseGateMap(written, &again, error, sizeof error));
    FormatGateMap(again, rewritten, sizeof rewritten);
    Require(strcmp(written, rewritten) == 0);
    Require(again.count == map.count && again.resetButton == map.resetButton);
}

// A config file that reads must read the same after it is rewritten with its own values,
// as the tray does on every change.
static void CheckConfigText(const char *data, size_t size)
{
    std::vector<SettingValue> values, again;
    std::string error;
    if (!ReadConfigText(std::string(data, size), "f", &values, &error)) {
        Require(error.rfind("f:", 0) == 0);
        return;
    }
    std::vector<std::pair<std::string, std::string>> set;
    for (const SettingValue &v : values)
        set.push_back({v.key, v.value});
    Require(ReadConfigText(RewriteConfig(std::string(data, size), set), "f", &again, &error));
    Require(again.size() == values.size());
    for (size_t i = 0; i < values.size(); i++)
        Require(again[i].key == values[i].key && again[i].value == values[i].value);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    CheckTiming(text, size);
    CheckGateMap(text, size);
    CheckConfigText(text, size);
    return 0;
}
