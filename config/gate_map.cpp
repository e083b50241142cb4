// Reading and writing gate maps.
#include "gate_map.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "text.h"

namespace {

const struct {
    const char *name;
    uint32_t angle;
} HatNames[] = {
    {"hat-up", HAT_FORWARD},
    {"hat-right", HAT_RIGHT},
    {"hat-down", HAT_BACKWARD},
    {"hat-left", HAT_LEFT},
};

// Formats the message into `error` (`size` bytes); false, for the parser to return.
bool FormatError(char *error, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(error, size, format, args);
    va_end(args);
    return false;
}

// A whole number in 1..MAX_BUTTONS, nothing else; 0 when it is not one.
int ButtonNumber(const char *text, size_t length)
{
    if (length == 0 || length > 3)
        return 0;
    int n = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        n = n * 10 + (text[i] - '0');
    }
    return n >= 1 && n <= MAX_BUTTONS ? n : 0;
}

bool SameInput(const GateInput &a, const GateInput &b)
{
    return a.kind == b.kind && a.value == b.value;
}

void Describe(const GateInput &input, char *text, size_t size)
{
    if (input.kind == GateInput::BUTTON) {
        snprintf(text, size, "%u", static_cast<unsigned>(input.value));
        return;
    }
    for (const auto &hat : HatNames)
        if (hat.angle == input.value)
            snprintf(text, size, "%s", hat.name);
}

}  // namespace

bool ParseGateMap(const char *text, GateMap *map, char *error, size_t size)
{
    GateMap m = {};
    const char *p = text;
    for (;;) {
        const char *end = strchr(p, ',');
        if (!end)
            end = p + strlen(p);
        const char *equals = static_cast<const char *>(memchr(p, '=', end - p));
        const char *keyEnd = equals ? equals : end, *valueStart = equals ? equals + 1 : end;
        std::string_view keyText = Trim({p, size_t(keyEnd - p)});
        std::string_view valueText = Trim({valueStart, size_t(end - valueStart)});
        const char *key = keyText.data(), *value = valueText.data();
        int keyLength = static_cast<int>(keyText.size()), valueLength = static_cast<int>(valueText.size());
        if (!equals || keyLength == 0 || valueLength == 0)
            return FormatError(error, size, "'%.*s' is not of the form G=INPUT", static_cast<int>(end - p), p);

        if (keyLength == 5 && strncmp(key, "reset", 5) == 0) {
            int button = ButtonNumber(value, valueLength);
            if (!button)
                return FormatError(error, size, "reset=%.*s: the reset must be a button number, 1..%d", valueLength,
                            value, MAX_BUTTONS);
            if (m.resetButton)
                return FormatError(error, size, "the reset is given twice");
            m.resetButton = button;
        } else {
            int32_t gear;
            if (keyLength == 1 && key[0] >= '1' && key[0] <= '7')
                gear = key[0] - '0';
            else if (keyLength == 1 && (key[0] == 'R' || key[0] == 'r'))
                gear = GEAR_REVERSE;
            else
                return FormatError(error, size, "'%.*s': the gear must be one of 1..7 or R", keyLength, key);

            GateInput input = {GateInput::BUTTON, 0};
            input.value = ButtonNumber(value, valueLength);
            for (const auto &hat : HatNames)
                if (strlen(hat.name) == size_t(valueLength) && strncmp(value, hat.name, valueLength) == 0)
                    input = {GateInput::HAT, hat.angle};
            if (input.kind == GateInput::BUTTON && input.value == 0)
                return FormatError(error, size,
                            "'%.*s': the input must be a button number, 1..%d, or one of hat-up, hat-right, "
                            "hat-down, hat-left",
                            valueLength, value, MAX_BUTTONS);
            for (int i = 0; i < m.count; i++) {
                if (m.entries[i].gear == gear)
                    return FormatError(error, size, "gear %.*s is given twice", keyLength, key);
                if (SameInput(m.entries[i].input, input))
                    return FormatError(error, size, "'%.*s' is given for two gears", valueLength, value);
            }
            m.entries[m.count++] = {input, gear};  // at most 8: each gear once
        }
        if (!*end)
            break;
        p = end + 1;
    }
    if (m.count == 0)
        return FormatError(error, size, "the map names no gear");
    for (int i = 0; i < m.count; i++)
        if (m.entries[i].input.kind == GateInput::BUTTON && int(m.entries[i].input.value) == m.resetButton)
            return FormatError(error, size, "button %d is both a gear and the reset", m.resetButton);
    *map = m;
    return true;
}

void FormatGateMap(const GateMap &map, char *text, size_t size)
{
    static const int32_t order[] = {1, 2, 3, 4, 5, 6, 7, GEAR_REVERSE};
    size_t used = 0;
    text[0] = '\0';
    for (int32_t gear : order) {
        for (int i = 0; i < map.count; i++) {
            if (map.entries[i].gear != gear)
                continue;
            char input[16] = "";
            Describe(map.entries[i].input, input, sizeof input);
            used += snprintf(text + used, used < size ? size - used : 0, "%s%s=%s", used ? "," : "", GearName(gear),
                             input);
        }
    }
    if (map.resetButton)
        snprintf(text + used, used < size ? size - used : 0, "%sreset=%d", used ? "," : "", map.resetButton);
}
