// Gear decoding: one controller report, the selected gate plate and the maximum gear
// make one gear number.
#ifndef GEARVANE_GEAR_H
#define GEARVANE_GEAR_H

#include <stdint.h>

#include "platform.h"

enum Plate { PLATE_NONE, PLATE_STANDARD, PLATE_NASCAR };

// Controller report values that carry meaning.
enum : uint32_t {
    BUTTON_RESET = 0x400,  // button 11 alone: resynchronise CurrentGear
    POV_FORWARD = 0,
    POV_RIGHT = 9000,
    POV_BACKWARD = 18000,
    POV_LEFT = 27000,
    POV_CENTERED = 65535,
};

// True while controller polls keep failing; the debug window says so.
extern bool ControllerSilent;

// The gear that `sample` selects on `plate`, -1..7, before the cap. A button row
// matches only its exact mask, a hat row only its exact angle, and a hat row beats
// a button row. Sets *resetSeen when the reset button is held alone.
int32_t DecodeGate(Plate plate, const ControllerSample &sample, bool *resetSeen);

// The selected maximum gear, 4..7; 7 when no max-gear radio is checked.
int32_t GetMaxGear(DialogHandle dlg);

// Polls the controller once and returns the engaged gear, -1..7, capped at the
// selected maximum. Sets CurrentGear to 0 when the reset button alone is held.
// A failed poll gives 0 and reports the silence in the debug window once.
int32_t ReadGear(DialogHandle dlg);

#endif
