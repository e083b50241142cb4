// The learn rules, shared by --learn on Linux and the tray's Learn gates.
#include "learn.h"

namespace {

const int32_t Gears[] = {1, 2, 3, 4, 5, 6, 7, GEAR_REVERSE};
const char *const Questions[] = {"1st gear", "2nd gear", "3rd gear", "4th gear", "5th gear",
                                 "6th gear", "7th gear", "reverse"};
enum { QUESTIONS = 8 };

bool IsDirection(uint32_t hat)
{
    return hat == HAT_FORWARD || hat == HAT_RIGHT || hat == HAT_BACKWARD || hat == HAT_LEFT;
}

// The input that `now` has and `before` had not. False when there is none.
bool NewInput(const Sample &before, const Sample &now, GateInput *input)
{
    for (int b = 1; b <= MAX_BUTTONS; b++)
        if (ButtonHeld(now, b) && !ButtonHeld(before, b)) {
            *input = {GateInput::BUTTON, static_cast<uint32_t>(b)};
            return true;
        }
    if (IsDirection(now.hat) && now.hat != before.hat) {
        *input = {GateInput::HAT, now.hat};
        return true;
    }
    return false;
}

}  // namespace

void LearnStart(Learning *l, const Sample &now)
{
    *l = {};
    l->before = now;
}

int32_t LearnGear(const Learning &l)
{
    return l.question < QUESTIONS ? Gears[l.question] : GEAR_NONE;
}

const char *GearQuestion(int32_t gear)
{
    for (int q = 0; q < QUESTIONS; q++)
        if (Gears[q] == gear)
            return Questions[q];
    return "no gear";
}

LearnAnswer LearnSample(Learning *l, const Sample &now, int32_t *takenBy)
{
    GateInput input;
    bool fresh = NewInput(l->before, now, &input);
    l->before = now;
    if (!fresh || LearnDone(*l))
        return LEARN_NOTHING;
    for (int i = 0; i < l->map.count; i++) {
        const GateEntry &e = l->map.entries[i];
        if (e.input.kind == input.kind && e.input.value == input.value) {
            *takenBy = e.gear;
            return LEARN_TAKEN;
        }
    }
    l->map.entries[l->map.count++] = {input, Gears[l->question++]};
    return LEARN_ANSWERED;
}

void LearnSkip(Learning *l)
{
    if (!LearnDone(*l))
        l->question++;
}

void LearnEnd(Learning *l)
{
    l->question = QUESTIONS;
}

bool LearnDone(const Learning &l)
{
    return l.question >= QUESTIONS;
}

LearnAnswer LearnReset(Learning *l, const Sample &now, int32_t *takenBy)
{
    GateInput input;
    bool fresh = NewInput(l->before, now, &input);
    l->before = now;
    if (!fresh)
        return LEARN_NOTHING;
    if (input.kind != GateInput::BUTTON)
        return LEARN_NO_BUTTON;
    for (int i = 0; i < l->map.count; i++)
        if (l->map.entries[i].input.kind == GateInput::BUTTON && l->map.entries[i].input.value == input.value) {
            *takenBy = l->map.entries[i].gear;
            return LEARN_TAKEN;
        }
    l->map.resetButton = static_cast<int>(input.value);
    return LEARN_ANSWERED;
}
