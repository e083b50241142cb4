// Learning a gate map: each gear is asked in turn (1st..7th, then reverse), and the lever
// answers with a newly pressed button or a hat moved into one of its four directions; then,
// if a front end asks it, the optional reset button.
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
    LEARN_NO_BUTTON, // the reset question: a hat moved, and the reset is a button
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

// A sample of the lever at the reset question, asked once the gears are done: a newly
// pressed button that no gear has answers it and becomes map.resetButton (LEARN_ANSWERED).
// A gear's button gives LEARN_TAKEN with that gear in *takenBy.
LearnAnswer LearnReset(Learning *learning, const Sample &now, int32_t *takenBy);

#endif
