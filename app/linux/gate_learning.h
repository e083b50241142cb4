// Learning gates for the clients of the control socket: the learn rules on the lever the
// daemon drives, the optional reset question after the gears, who asked, and what clients
// are told.
#ifndef GEARVANE_GATE_LEARNING_H
#define GEARVANE_GATE_LEARNING_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "../../core/learn.h"
#include "control_protocol.h"

class GateLearning {
public:
    bool Active() const { return view.state != LEARN_OFF; }
    // Whether learning may start: false, with *error, when it is under way already, when there
    // is no lever to learn (`lever` false), when the command line sets the gates
    // (`gatesFixed`), or when there is no config file to save to (`canSave` false).
    bool MayStart(bool lever, bool gatesFixed, bool canSave, std::string *error) const;
    // Asks for 1st gear, from the lever's state `now`, for the client `learner`.
    void Start(const Sample &now, uint64_t learner);
    // The client that started learning; 0 when none is under way.
    uint64_t Learner() const { return learner; }
    // Whether a step of learning (`name`: "learn skip") may be taken: false, with *error,
    // when none is under way.
    bool MayStep(const char *name, std::string *error) const;

    // A new sample of the lever. True once the reset question is answered: learning is over,
    // and Map() holds what to save.
    bool OnSample(const Sample &now);
    // Leaves the gear asked out; at the reset question, leaves the reset out and is over.
    bool Skip() { return LeaveOut(LearnSkip); }
    // Leaves out every gear not yet asked; at the reset question, as Skip.
    bool Done() { return LeaveOut(LearnEnd); }
    // Ends learning: `how` is what clients are told ("saved", "cancelled", ...).
    void End(const char *how);

    // The gears answered, and the reset button once it is.
    const GateMap &Map() const { return learning.map; }
    // What to save for the map learned on the lever named `lever`: the device, unless
    // `keepDevice` (the command line names it), then the gates.
    std::vector<std::pair<std::string, std::string>> Learned(const std::string &lever, bool keepDevice) const;
    const LearnView &View() const { return view; }

private:
    void Show();
    bool LeaveOut(void (*leave)(Learning *));
    std::string Taken(int32_t gear) const;

    Learning learning = {};
    LearnView view;
    uint64_t learner = 0;
};

#endif
