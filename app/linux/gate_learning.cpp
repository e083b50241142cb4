// The steps of learning gates through the control socket.
#include "gate_learning.h"

#include "../../config/settings.h"

bool GateLearning::MayStart(bool lever, bool gatesFixed, bool canSave, std::string *error) const
{
    if (Active())
        *error = "learn start: learning is under way already";
    else if (!lever)
        *error = "learn start: there is no lever to learn: plug it in, or choose it";
    else if (gatesFixed)
        *error = "learn start: gearvane's command line sets the gates, which wins over the config file";
    else if (!canSave)
        *error = "learn start: there is no config file to save to: HOME is not set";
    return error->empty();
}

void GateLearning::Start(const Sample &now, uint64_t by)
{
    LearnStart(&learning, now);
    view = LearnView();
    view.state = LEARN_GEARS;
    learner = by;
    Show();
}

bool GateLearning::MayStep(const char *name, std::string *error) const
{
    if (!Active())
        *error = std::string(name) + ": no learning is under way";
    return Active();
}

void GateLearning::Show()
{
    if (view.state == LEARN_GEARS && LearnDone(learning))
        view.state = LEARN_RESET;
    view.asking = LearnGear(learning);
    view.answers = learning.map;
}

// "button 13 is 1st gear's": what answers `gear` already.
std::string GateLearning::Taken(int32_t gear) const
{
    GateInput input = learning.map.entries[0].input;
    for (int i = 0; i < learning.map.count; i++)
        if (learning.map.entries[i].gear == gear)
            input = learning.map.entries[i].input;
    std::string name = input.kind == GateInput::BUTTON ? "button " + std::to_string(input.value)
                                                       : std::string("hat ") + HatName(input.value);
    return name + " is " + GearQuestion(gear) + "'s";
}

bool GateLearning::OnSample(const Sample &now)
{
    int32_t taken = GEAR_NONE;
    if (view.state == LEARN_GEARS) {
        // The last sample before a note stays the one to compare with: a button held while
        // it is refused must be let go of and pressed again.
        LearnAnswer answer = LearnSample(&learning, now, &taken);
        if (answer == LEARN_TAKEN)
            view.note = Taken(taken) + "; try another, or skip";
        else if (answer == LEARN_ANSWERED)
            view.note.clear();
        Show();
        return false;
    }
    switch (LearnReset(&learning, now, &taken)) {
    case LEARN_ANSWERED:
        return true;
    case LEARN_TAKEN:
        view.note = Taken(taken) + "; press another button, or skip";
        break;
    case LEARN_NO_BUTTON:
        view.note = "the reset is a button, not the hat; press a button, or skip";
        break;
    case LEARN_NOTHING:
        break;
    }
    return false;
}

// At the reset question, leaving it out ends learning; before it, `leave` leaves gears out.
bool GateLearning::LeaveOut(void (*leave)(Learning *))
{
    if (view.state == LEARN_RESET)
        return true;
    leave(&learning);
    view.note.clear();
    Show();
    return false;
}

void GateLearning::End(const char *how)
{
    view = LearnView();
    view.ended = how;
    learner = 0;
}

std::vector<std::pair<std::string, std::string>> GateLearning::Learned(const std::string &lever,
                                                                       bool keepDevice) const
{
    auto learned = LearnedSettings(lever, learning.map);
    if (keepDevice)
        learned.erase(learned.begin());
    return learned;
}
