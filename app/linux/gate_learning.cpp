// The steps of learning gates through the control socket.
#include "gate_learning.h"

#include <string>

namespace {

std::string InputName(const GateInput &input)
{
    return input.kind == GateInput::BUTTON ? "button " + std::to_string(input.value)
                                           : std::string("hat ") + HatName(input.value);
}

}  // namespace

void GateLearning::Start(const Sample &now)
{
    LearnStart(&learning, now);
    view = LearnView();
    view.state = LEARN_GEARS;
    Show();
}

void GateLearning::Show()
{
    if (view.state == LEARN_GEARS && LearnDone(learning))
        view.state = LEARN_RESET;
    view.asking = LearnGear(learning);
    view.answers = learning.map;
}

bool GateLearning::OnSample(const Sample &now)
{
    int32_t taken = GEAR_NONE;
    if (view.state == LEARN_GEARS) {
        // The last sample before a note stays the one to compare with: a button held while
        // it is refused must be let go of and pressed again.
        LearnAnswer answer = LearnSample(&learning, now, &taken);
        if (answer == LEARN_TAKEN) {
            GateInput input = learning.map.entries[0].input;
            for (int i = 0; i < learning.map.count; i++)
                if (learning.map.entries[i].gear == taken)
                    input = learning.map.entries[i].input;
            view.note = InputName(input) + " is " + GearQuestion(taken) + "'s; try another, or skip";
        } else if (answer == LEARN_ANSWERED) {
            view.note.clear();
        }
        Show();
        return false;
    }
    switch (LearnReset(&learning, now, &taken)) {
    case LEARN_ANSWERED:
        return true;
    case LEARN_TAKEN:
        for (int i = 0; i < learning.map.count; i++)
            if (learning.map.entries[i].gear == taken)
                view.note = InputName(learning.map.entries[i].input) + " is " + GearQuestion(taken) +
                            "'s; press another button, or skip";
        break;
    case LEARN_NO_BUTTON:
        view.note = "the reset is a button, not the hat; press a button, or skip";
        break;
    case LEARN_NOTHING:
        break;
    }
    return false;
}

bool GateLearning::Skip()
{
    if (view.state == LEARN_RESET)
        return true;
    LearnSkip(&learning);
    view.note.clear();
    Show();
    return false;
}

bool GateLearning::Done()
{
    if (view.state == LEARN_RESET)
        return true;
    LearnEnd(&learning);
    view.note.clear();
    Show();
    return false;
}

void GateLearning::End(const char *how)
{
    view = LearnView();
    view.ended = how;
}
