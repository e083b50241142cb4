// Learning a gate map: each gear is asked in turn (1st..7th, then reverse), and the lever
// answers with a newly pressed button or a hat moved into one of its four directions.
#ifndef GEARVANE_LEARN_RULES_H
#define GEARVANE_LEARN_RULES_H

#include "gate.h"

struct Learning {
    int question;   // 0..7 into the gears asked; 8 once all were asked, skipped or ended
    GateMap map;    // what was learned so far
    Sample before;  // the last sample seen, to tell what is new
};

enum LearnAnswer {
    LEARN_NOTHING,   // nothing new in this sample
    LEARN_ANSWERED,  // the gear asked has its input; the next one is asked
    LEARN_TAKEN,     // the new input is another gear's already: asked again
};

// Starts with the first gear, from the lever's state now.
void LearnStart(Learning *learning, const Sample &now);

// The gear asked now (1..7 or GEAR_REVERSE), or GEAR_NONE once learning is done.
int32_t LearnGear(const Learning &learning);

// "1st gear" .. "7th gear", "reverse": how questions and refusals name a gear.
const char *GearQuestion(int32_t gear);

// A new sample of the lever. The lowest newly pressed button wins over a hat move. On
// LEARN_TAKEN, *takenBy is the gear that has the input already.
LearnAnswer LearnSample(Learning *learning, const Sample &now, int32_t *takenBy);

// Leaves the gear asked out of the map and asks the next.
void LearnSkip(Learning *learning);

// Leaves out every gear not yet asked: learning is done.
void LearnEnd(Learning *learning);

bool LearnDone(const Learning &learning);

enum ResetAnswer {
    RESET_NOTHING,     // nothing new in this sample
    RESET_ANSWERED,    // a new button that no gear uses: it is the map's reset button now
    RESET_GEAR_INPUT,  // the new input is a gear's button
    RESET_HAT,         // the hat moved: the reset is a button
};

// The optional question once the gears are learned: a new sample of the lever, answered by
// a newly pressed button that no gear uses. *input is the new input; on RESET_GEAR_INPUT
// *takenBy is the gear whose button it is.
ResetAnswer LearnResetSample(Learning *learning, const Sample &now, GateInput *input, int32_t *takenBy);

#endif
