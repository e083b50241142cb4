// Learning gates for the clients of the control socket: the learn rules on the lever the
// daemon drives, the optional reset question after the gears, and what clients are told.
#ifndef GEARVANE_GATE_LEARNING_H
#define GEARVANE_GATE_LEARNING_H

#include <stdint.h>

#include "../../core/learn.h"
#include "control_protocol.h"

class GateLearning {
public:
    bool Active() const { return view.state != LEARN_OFF; }
    // Asks for 1st gear, from the lever's state `now`.
    void Start(const Sample &now);
    // A new sample of the lever. True once the reset question is answered: learning is over,
    // and Map() holds what to save.
    bool OnSample(const Sample &now);
    // Leaves the gear asked out; at the reset question, leaves the reset out and is over.
    bool Skip();
    // Leaves out every gear not yet asked; at the reset question, as Skip.
    bool Done();
    // Ends learning: `how` is what clients are told ("saved", "cancelled", ...).
    void End(const char *how);

    // The gears answered, and the reset button once it is.
    const GateMap &Map() const { return learning.map; }
    const LearnView &View() const { return view; }

private:
    void Show();

    Learning learning = {};
    LearnView view;
};

#endif
