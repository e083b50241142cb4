// Taps of a set hold and gap from the lever's gear, and the status lines of each change.
#include "tapper.h"

#include <stdio.h>

#include "gate.h"

void TapperStart(Tapper *t, TapTiming timing)
{
    *t = Tapper();
    t->timing = timing;
    t->phase = TAP_IDLE;
}

void TapperSetTiming(Tapper *t, TapTiming timing)
{
    t->timing = timing;
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

// A named change has ended once nothing more is to be sent; ending anywhere but where its
// status line said (a reset, a stop, the lever back where the game landed) is news.
static void Settle(Tapper *t, TapActions *a)
{
    if (!t->underway || TapperBusy(t))
        return;
    t->underway = false;
    if (t->assumed != t->named) {
        a->news.ended = true;
        a->news.endedIn = t->assumed;
        a->news.named = t->named;
    }
}

TapActions TapperLever(Tapper *t, int64_t now, int32_t gear, bool reset)
{
    TapActions a = {};
    bool pressed = reset && !t->resetHeld;
    int32_t before = t->target;
    // Where the game will be when the next tap starts: a reset puts it in neutral.
    int32_t from = pressed ? GEAR_NONE : TapperLanding(t);
    if (pressed) {
        if (t->phase == TAP_HOLDING)
            t->resetPending = true;
        else
            t->assumed = GEAR_NONE;
        t->target = GEAR_NONE;
    }
    t->resetHeld = reset;
    if (gear != GEAR_NONE)
        t->target = gear;
    a.news.reset = pressed;
    if ((t->target != before || pressed) && t->target != from) {
        // A reset ends the change under way in neutral; a new change must not hide that.
        if (t->underway && (pressed || t->resetPending)) {
            a.news.ended = true;
            a.news.endedIn = GEAR_NONE;
            a.news.named = t->named;
        }
        a.news.change = true;
        a.news.from = from;
        a.news.to = t->target;
        t->underway = true;
        t->named = t->target;
    }
    Advance(t, now, &a);
    Settle(t, &a);
    return a;
}

TapActions TapperTimer(Tapper *t, int64_t now)
{
    TapActions a = {};
    if (t->phase == TAP_IDLE || now < t->due)
        return a;
    if (t->phase == TAP_HOLDING)
        Release(t, now, &a);
    Advance(t, now, &a);
    Settle(t, &a);
    return a;
}

TapActions TapperStop(Tapper *t, int64_t now)
{
    TapActions a = {};
    if (t->phase == TAP_HOLDING)
        Release(t, now, &a);
    t->target = t->assumed;
    t->resetHeld = false;
    Settle(t, &a);
    return a;
}

void TapperDone(Tapper *t, const TapActions &asked, const TapSent &sent)
{
    if (sent.released || sent.pressed) {
        if (t->phase == TAP_HOLDING)
            t->due = sent.at + t->timing.hold;
        else if (t->phase == TAP_GAP)
            t->due = sent.at + t->timing.gap;
    }
    if (asked.press && !sent.pressed && t->phase == TAP_HOLDING) {
        t->phase = TAP_GAP;
        t->due = sent.retry;
    }
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

bool TapperBusy(const Tapper *t)
{
    return t->phase == TAP_HOLDING || TapsBetween(t->assumed, t->target) != 0;
}

size_t FormatNews(const TapNews &news, const char *upKey, const char *downKey, char *text, size_t size)
{
    if (size == 0)
        return 0;
    size_t used = 0;
    text[0] = '\0';
    auto add = [&](int n) {
        if (n > 0)
            used += static_cast<size_t>(n) < size - used ? static_cast<size_t>(n) : size - used - 1;
    };
    if (news.reset)
        add(snprintf(text + used, size - used, "reset: the game is taken to be in neutral\n"));
    if (news.ended)
        add(snprintf(text + used, size - used, "the change to %s ended in %s\n", GearName(news.named),
                     GearName(news.endedIn)));
    if (news.change) {
        int32_t taps = TapsBetween(news.from, news.to);
        add(snprintf(text + used, size - used, "%s -> %s: %d x %s\n", GearName(news.from), GearName(news.to),
                     taps > 0 ? taps : -taps, taps > 0 ? upKey : downKey));
    }
    return used;
}
