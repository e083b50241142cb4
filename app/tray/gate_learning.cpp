// Learning the gates.
#include "gate_learning.h"

#include "text.h"
#include "view.h"

namespace {

// The gears are done: the reset button is asked if a gear was learned; without one, there is
// nothing to learn it for.
bool Next(GateLearning *g)
{
    if (!LearnDone(g->learn))
        return false;
    g->reset = g->learn.map.count > 0;
    g->on = g->reset;
    return !g->on;
}

}  // namespace

void StartGateLearning(GateLearning *g, const Sample &now)
{
    *g = {};
    g->on = true;
    LearnStart(&g->learn, now);
}

bool LearnGateFrom(GateLearning *g, const Sample &sample)
{
    int32_t taken = GEAR_NONE;
    LearnAnswer answer = g->reset ? LearnReset(&g->learn, sample, &taken) : LearnSample(&g->learn, sample, &taken);
    if (answer == LEARN_NOTHING)
        return false;
    g->note = answer == LEARN_TAKEN     ? L"That is " + GearText(taken) + L"'s already. "
              : answer == LEARN_NO_BUTTON ? L"The reset is a button, not the hat. "
                                          : L"";
    if (answer != LEARN_ANSWERED)
        return false;
    if (g->reset) {
        g->on = false;
        return true;
    }
    return Next(g);
}

bool SkipGate(GateLearning *g)
{
    g->note.clear();
    if (g->reset) {
        g->on = false;
        return true;
    }
    LearnSkip(&g->learn);
    return Next(g);
}

bool EndGates(GateLearning *g)
{
    if (g->reset)
        return SkipGate(g);
    g->note.clear();
    LearnEnd(&g->learn);
    return Next(g);
}

std::wstring LearningPrompt(const GateLearning &g)
{
    if (g.reset)
        return g.note + L"Last, optional: press the button that tells gearvane the game is in neutral, or click Skip.";
    return g.note + L"Move the lever into " + GearText(LearnGear(g.learn)) + L", or click Skip (question " +
           std::to_wstring(g.learn.question + 1) + L" of 8). Done: no more gears.";
}

std::wstring LearningAsks(const GateLearning &g)
{
    return g.reset ? L"reset" : Wide(GearName(LearnGear(g.learn)));
}
