// Learning the gates in the window: the questions of core/learn.h, then the optional reset
// button, with what the window says meanwhile.
#ifndef GEARVANE_TRAY_GATE_LEARNING_H
#define GEARVANE_TRAY_GATE_LEARNING_H

#include <string>

#include "../../core/learn.h"

struct GateLearning {
    bool on = false;
    bool reset = false;  // the gears are done: the reset button is asked
    Learning learn = {};
    std::wstring note;   // why the last input was not taken, or empty
};

void StartGateLearning(GateLearning *g, const Sample &now);

// A sample of the lever, Skip and Done (no more gears; at the reset question, the same as
// Skip). Each returns true when learning has ended: `learn.map` holds what was learned.
bool LearnGateFrom(GateLearning *g, const Sample &sample);
bool SkipGate(GateLearning *g);
bool EndGates(GateLearning *g);

// What to do now, for the line under the gates.
std::wstring LearningPrompt(const GateLearning &g);

// What is asked, large: "3", "R", "reset".
std::wstring LearningAsks(const GateLearning &g);

#endif
