// Gate maps: which input of the lever means which gear, and which input resets.
#ifndef GEARVANE_GATE_H
#define GEARVANE_GATE_H

#include <stdint.h>

// Gear numbers: -1 reverse, 0 no gear (neutral, or a position that means nothing),
// 1..7 forward.
enum { GEAR_REVERSE = -1, GEAR_NONE = 0, GEAR_TOP = 7 };

// Enough for every key code a Linux input device can report.
enum { MAX_BUTTONS = 768 };

// Hat angles in hundredths of a degree, clockwise from forward.
enum : uint32_t {
    HAT_FORWARD = 0,
    HAT_RIGHT = 9000,
    HAT_BACKWARD = 18000,
    HAT_LEFT = 27000,
    HAT_CENTRED = 65535,
};

// One reading of the lever.
struct Sample {
    uint32_t buttons[MAX_BUTTONS / 32];  // bit n-1 of the mask: button n held
    uint32_t hat;                        // an angle above, or any other value for none
};

void SetButton(Sample *sample, int button, bool held);
bool ButtonHeld(const Sample &sample, int button);
// Whether two readings hold the same buttons and the same hat.
bool SameSample(const Sample &a, const Sample &b);

// A button number (1..MAX_BUTTONS) or a hat direction (one of the four angles).
struct GateInput {
    enum Kind : uint8_t { BUTTON, HAT } kind;
    uint32_t value;
};

struct GateEntry {
    GateInput input;
    int32_t gear;
};

enum { MAX_GATE_ENTRIES = 8 };  // gears 1..7 and reverse

struct GateMap {
    GateEntry entries[MAX_GATE_ENTRIES];
    int count;
    int resetButton;  // 0: none
    // Exact maps are the two legacy plates: a button counts only when it is the one button
    // of 1..32 held, and the hat beats the buttons. Otherwise only the map's own inputs
    // count, and two of them at once mean no gear.
    bool exact;
};

extern const GateMap StandardPlate;  // "Standard (Reverse in 8)"
extern const GateMap NascarPlate;    // "Nascar Type Plate (Reverse in 1)"

struct Decoded {
    int32_t gear;  // -1..7, before the cap
    bool reset;    // the reset input is held in a way that counts
};

Decoded DecodeGate(const GateMap &map, const Sample &sample);

// A gear as status lines and gate maps write it: "R", "N", "1".."10" (a game may report
// more gears than a lever has); "?" for any other number.
const char *GearName(int32_t gear);

// Forward gears above `maxGear` become `maxGear`; reverse and neutral stay.
int32_t CapGear(int32_t gear, int32_t maxGear);

// The taps that take the game from gear `assumed` to gear `engaged`: positive for shifts
// up, negative for shifts down. Neutral on the lever sends nothing, and neither does a
// change of more than 8 gears, which gears -1..7 cannot give.
int32_t TapsBetween(int32_t assumed, int32_t engaged);

#endif
