// The tap scheduler.
#include "tapper.h"

#include "gate.h"

void TapperStart(Tapper *t, TapTiming timing)
{
    *t = Tapper();
    t->timing = timing;
    t->phase = TAP_IDLE;
}

// Ends a gap that is over, then starts the next tap if the game is not where the lever is.
static void Advance(Tapper *t, int64_t now, TapActions *a)
{
    if (t->phase == TAP_GAP && now >= t->due)
        t->phase = TAP_IDLE;
    if (t->phase != TAP_IDLE)
        return;
    int32_t taps = TapsBetween(t->assumed, t->target);
    if (taps == 0)
        return;
    t->direction = taps > 0 ? 1 : -1;
    t->phase = TAP_HOLDING;
    t->due = now + t->timing.hold;
    a->press = t->direction;
}

static void Release(Tapper *t, int64_t now, TapActions *a)
{
    a->release = t->direction;
    t->assumed += t->direction;
    if (t->resetPending) {
        t->assumed = GEAR_NONE;
        t->resetPending = false;
    }
    t->phase = TAP_GAP;
    t->due = now + t->timing.gap;
}

TapActions TapperLever(Tapper *t, int64_t now, int32_t gear, bool reset)
{
    TapActions a = {0, 0};
    if (reset && !t->resetHeld) {
        if (t->phase == TAP_HOLDING)
            t->resetPending = true;
        else
            t->assumed = GEAR_NONE;
        t->target = GEAR_NONE;
    }
    t->resetHeld = reset;
    if (gear != GEAR_NONE)
        t->target = gear;
    Advance(t, now, &a);
    return a;
}

TapActions TapperTimer(Tapper *t, int64_t now)
{
    TapActions a = {0, 0};
    if (t->phase == TAP_IDLE || now < t->due)
        return a;
    if (t->phase == TAP_HOLDING)
        Release(t, now, &a);
    Advance(t, now, &a);
    return a;
}

TapActions TapperStop(Tapper *t, int64_t now)
{
    TapActions a = {0, 0};
    if (t->phase == TAP_HOLDING)
        Release(t, now, &a);
    t->target = t->assumed;
    t->resetHeld = false;
    return a;
}

void TapperSent(Tapper *t, int64_t now)
{
    if (t->phase == TAP_HOLDING)
        t->due = now + t->timing.hold;
    else if (t->phase == TAP_GAP)
        t->due = now + t->timing.gap;
}

int64_t TapperDue(const Tapper *t)
{
    return t->phase == TAP_IDLE ? -1 : t->due;
}

int32_t TapperLanding(const Tapper *t)
{
    if (t->phase != TAP_HOLDING)
        return t->assumed;
    return t->resetPending ? GEAR_NONE : t->assumed + t->direction;
}
