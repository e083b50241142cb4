// Gear decoding: gate maps, the cap and the shift decision.
#include "gate.h"

#include <string.h>

const GateMap StandardPlate = {
    {
        {{GateInput::BUTTON, 6}, 1},
        {{GateInput::BUTTON, 7}, 2},
        {{GateInput::BUTTON, 1}, 3},
        {{GateInput::BUTTON, 2}, 4},
        {{GateInput::HAT, HAT_FORWARD}, 5},
        {{GateInput::HAT, HAT_LEFT}, 6},
        {{GateInput::HAT, HAT_BACKWARD}, 7},
        {{GateInput::HAT, HAT_RIGHT}, GEAR_REVERSE},
    },
    8, 11, true,
};

// Reverse in the first position; the second means nothing on this plate.
const GateMap NascarPlate = {
    {
        {{GateInput::BUTTON, 6}, GEAR_REVERSE},
        {{GateInput::BUTTON, 1}, 1},
        {{GateInput::BUTTON, 2}, 2},
        {{GateInput::HAT, HAT_FORWARD}, 3},
        {{GateInput::HAT, HAT_LEFT}, 4},
        {{GateInput::HAT, HAT_BACKWARD}, 5},
        {{GateInput::HAT, HAT_RIGHT}, 6},
    },
    7, 11, true,
};

void SetButton(Sample *sample, int button, bool held)
{
    if (button < 1 || button > MAX_BUTTONS)
        return;
    uint32_t bit = 1u << ((button - 1) % 32);
    uint32_t &word = sample->buttons[(button - 1) / 32];
    word = held ? word | bit : word & ~bit;
}

bool ButtonHeld(const Sample &sample, int button)
{
    if (button < 1 || button > MAX_BUTTONS)
        return false;
    return sample.buttons[(button - 1) / 32] >> ((button - 1) % 32) & 1;
}

bool SameSample(const Sample &a, const Sample &b)
{
    return memcmp(a.buttons, b.buttons, sizeof a.buttons) == 0 && a.hat == b.hat;
}

// The legacy plates see the first 32 buttons only, as a Windows joystick reports them.
static bool HeldAlone(const Sample &sample, int button)
{
    return button >= 1 && button <= 32 && sample.buttons[0] == 1u << (button - 1);
}

static Decoded DecodeExact(const GateMap &map, const Sample &sample)
{
    Decoded d = {GEAR_NONE, HeldAlone(sample, map.resetButton)};
    for (int i = 0; i < map.count; i++) {
        const GateEntry &e = map.entries[i];
        if (e.input.kind == GateInput::BUTTON && HeldAlone(sample, e.input.value))
            d.gear = e.gear;
    }
    for (int i = 0; i < map.count; i++) {
        const GateEntry &e = map.entries[i];
        if (e.input.kind == GateInput::HAT && sample.hat == e.input.value)
            d.gear = e.gear;
    }
    return d;
}

static Decoded DecodeOwnInputs(const GateMap &map, const Sample &sample)
{
    Decoded d = {GEAR_NONE, map.resetButton != 0 && ButtonHeld(sample, map.resetButton)};
    int held = 0;
    for (int i = 0; i < map.count; i++) {
        const GateEntry &e = map.entries[i];
        bool on = e.input.kind == GateInput::BUTTON ? ButtonHeld(sample, e.input.value)
                                                    : sample.hat == e.input.value;
        if (on) {
            held++;
            d.gear = e.gear;
        }
    }
    // A lever between two gates, or two inputs pressed at once: no gear is safer than either.
    if (held > 1)
        d.gear = GEAR_NONE;
    return d;
}

Decoded DecodeGate(const GateMap &map, const Sample &sample)
{
    return map.exact ? DecodeExact(map, sample) : DecodeOwnInputs(map, sample);
}

const char *GearName(int32_t gear)
{
    // A game may report up to 10th: more gears than a lever has.
    static const char *const names[] = {"R", "N", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
    return gear >= GEAR_REVERSE && gear <= 10 ? names[gear + 1] : "?";
}

int32_t CapGear(int32_t gear, int32_t maxGear)
{
    return gear > maxGear ? maxGear : gear;
}

int32_t TapsBetween(int32_t assumed, int32_t engaged)
{
    if (engaged == GEAR_NONE)
        return 0;
    int32_t difference = engaged - assumed;
    return difference >= -8 && difference <= 8 ? difference : 0;
}
