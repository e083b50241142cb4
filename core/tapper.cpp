// The tap scheduler, open loop (counting taps) and closed by the game's reports.
#include "tapper.h"

#include <stdio.h>

#include "gate.h"

enum { MOST_TRIES = 3 };  // taps of one step before a change stops: the first and two more

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

// The taps from gear `from` to the lever's `target`, which neutral keeps where it was. Unlike
// TapsBetween it takes any gear a game reports, 8th and up too.
static int32_t Steps(int32_t from, int32_t target)
{
    return target == GEAR_NONE ? 0 : target - from;
}

static void Press(Tapper *t, int64_t now, TapActions *a)
{
    t->phase = TAP_HOLDING;
    t->due = now + t->timing.hold;
    a->press = t->direction;
    if (t->fresh) {
        t->sent++;
        t->tries++;
        t->awaiting = true;
        t->waitUntil = now + t->timing.wait;
    }
}

// The game did not report the tap's gear in time: tap the step again, or give up. A game
// that reports neutral in between is taken to be still shifting: it gets another wait.
static void Retry(Tapper *t, int64_t now, TapActions *a)
{
    if (t->tries >= MOST_TRIES) {
        t->awaiting = false;
        t->stalled = true;
        a->news.stopped = true;
        a->news.to = t->target;
        a->news.game = t->game;
        return;
    }
    if (t->game == t->from) {
        Press(t, now, a);
        return;
    }
    t->tries++;
    t->waitUntil = now + t->timing.wait;
}

// Whether a tap of ours that the game has not reported may still land, with none awaited.
static bool Straggling(const Tapper *t)
{
    return t->fresh && !t->awaiting && t->sent > 0;
}

// Ends a gap that is over, then starts the next tap if the game is not where the lever is.
static void Advance(Tapper *t, int64_t now, TapActions *a)
{
    if (t->phase == TAP_GAP && now >= t->due)
        t->phase = TAP_IDLE;
    if (t->phase != TAP_IDLE || t->stalled)
        return;
    if (!t->fresh) {
        int32_t taps = Steps(t->assumed, t->target);
        if (taps == 0)
            return;
        t->direction = taps > 0 ? 1 : -1;
        Press(t, now, a);
        return;
    }
    if (t->awaiting) {
        if (now >= t->waitUntil)
            Retry(t, now, a);
        return;
    }
    int32_t steps = Steps(t->game, t->target);
    if (steps == 0)
        return;
    int32_t direction = steps > 0 ? 1 : -1;
    // Taps sent before that the game may still take count only when they lead on from here.
    // Where they do not, they land or their wait runs out first: a step tapped again that
    // lands after a tap the other way would look like the game shifting by itself.
    if (direction != t->direction || t->game != t->from) {
        if (Straggling(t) && now < t->waitUntil)
            return;
        t->sent = 0;
    }
    t->direction = direction;
    t->from = t->game;
    t->tries = 0;
    Press(t, now, a);
}

static void Release(Tapper *t, int64_t now, TapActions *a)
{
    a->release = t->direction;
    if (!t->fresh)
        t->assumed += t->direction;
    if (t->resetPending) {
        t->assumed = t->pending;
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
    int32_t landing = TapperLanding(t);
    if (landing != t->named) {
        a->news.ended = true;
        a->news.endedIn = landing;
        a->news.named = t->named;
    }
}

// What every event ends with: the next tap if one is due, then whether the change has ended.
static TapActions Proceed(Tapper *t, int64_t now, TapActions a)
{
    Advance(t, now, &a);
    Settle(t, &a);
    return a;
}

// The game's reports went stale: from now on taps are counted from its last report.
static void Expire(Tapper *t, int64_t now, TapActions *a)
{
    if (!t->fresh || now < t->freshUntil)
        return;
    t->fresh = false;
    t->assumed = t->game;
    t->awaiting = false;
    t->sent = 0;
    a->news.lost = true;
    a->news.game = t->game;
}

// Says that a change begins from `from`, if the lever asks for one.
static void Announce(Tapper *t, int32_t from, TapActions *a)
{
    if (t->target == from || t->target == GEAR_NONE)
        return;
    a->news.change = true;
    a->news.from = from;
    a->news.to = t->target;
    a->news.reported = t->fresh && !t->awaiting;
    t->underway = true;
    t->named = t->target;
}

// The game is in `gear` on the user's word (a reset says neutral): it counts once the tap
// under way has ended, and stops the change under way.
static void Resync(Tapper *t, int32_t gear)
{
    if (t->phase == TAP_HOLDING) {
        t->resetPending = true;
        t->pending = gear;
    } else {
        t->assumed = gear;
    }
    t->target = GEAR_NONE;
    t->stalled = false;
}

TapActions TapperLever(Tapper *t, int64_t now, int32_t gear, bool reset)
{
    TapActions a = {};
    Expire(t, now, &a);
    bool pressed = reset && !t->resetHeld;
    t->resetHeld = reset;
    a.news.reset = pressed;
    // A report of the game's own beats the reset's word.
    bool resync = pressed && !t->fresh;
    if (pressed && t->fresh) {
        a.news.reported = true;
        a.news.game = t->game;
    }
    int32_t before = t->target;
    // Where the game will be when the next tap starts: a reset puts it in neutral.
    int32_t from = resync ? GEAR_NONE : TapperLanding(t);
    if (resync)
        Resync(t, GEAR_NONE);
    // After taps were stopped (the game did not follow or shifted itself, the lever was
    // gone), engaging a gear starts afresh, even the gear engaged before.
    bool again = t->stalled && gear != GEAR_NONE && gear != t->lever;
    if (again)
        t->stalled = false;
    t->lever = gear;
    if (gear != GEAR_NONE)
        t->target = gear;
    if (t->target != before || resync || again) {
        // A reset ends the change under way; a new change must not hide that.
        if (t->underway && (resync || t->resetPending) && t->target != from && t->target != GEAR_NONE) {
            a.news.ended = true;
            a.news.endedIn = t->resetPending ? t->pending : GEAR_NONE;
            a.news.named = t->named;
        }
        Announce(t, from, &a);
    }
    return Proceed(t, now, a);
}

TapActions TapperSetGear(Tapper *t, int64_t now, int32_t gear)
{
    TapActions a = {};
    Expire(t, now, &a);
    a.news.set = true;
    if (t->fresh) {
        a.news.reported = true;
        a.news.game = t->game;
        a.news.to = gear;
        return a;
    }
    a.news.game = gear;
    Resync(t, gear);
    t->target = t->lever;
    Announce(t, gear, &a);
    return Proceed(t, now, a);
}

TapActions TapperReading(Tapper *t, int64_t now, int32_t gear)
{
    TapActions a = {};
    if (t->timing.fresh <= 0)
        return a;
    Expire(t, now, &a);
    t->freshUntil = now + t->timing.fresh;
    if (!t->fresh) {
        // The first report, or the first since they stopped: the game's word replaces the count.
        t->fresh = true;
        t->game = t->from = t->assumed = gear;
        t->resetPending = false;
        t->sent = 0;
        t->awaiting = false;
        if (t->phase == TAP_HOLDING) {
            // The report may come before or after the key down now: if it lands later, it is ours.
            t->sent = 1;
            t->waitUntil = t->due - t->timing.hold + t->timing.wait;
        }
        // A change under way goes on from here; otherwise the lever must move first.
        t->stalled = t->stalled || !t->underway;
        a.news.heard = true;
        a.news.game = gear;
    } else if (gear != t->game) {
        // Taps of ours may still land until the wait for the last one is over.
        int32_t ahead = t->awaiting || now < t->waitUntil ? (gear - t->from) * t->direction : 0;
        if (ahead >= 1 && ahead <= t->sent) {
            // The game took taps of ours: the step under way is done.
            t->sent -= ahead;
            t->from = gear;
            t->awaiting = false;
        } else if (!(t->awaiting && (gear == t->from || gear == GEAR_NONE))) {
            // Neither ours nor a shift of ours under way: the game shifted itself.
            t->from = gear;
            t->sent = 0;
            t->awaiting = false;
            t->stalled = true;
            a.news.shifted = true;
            a.news.game = gear;
        }
        t->game = t->assumed = gear;
    }
    return Proceed(t, now, a);
}

TapActions TapperTimer(Tapper *t, int64_t now)
{
    TapActions a = {};
    int64_t due = TapperDue(t);
    if (due < 0 || now < due)
        return a;
    Expire(t, now, &a);
    if (t->phase == TAP_HOLDING && now >= t->due)
        Release(t, now, &a);
    return Proceed(t, now, a);
}

TapActions TapperStop(Tapper *t, int64_t now)
{
    TapActions a = {};
    if (t->phase == TAP_HOLDING)
        Release(t, now, &a);
    t->awaiting = false;
    t->target = t->fresh ? t->game : t->assumed;
    t->resetHeld = false;
    t->lever = GEAR_NONE;
    t->stalled = true;
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
    if (sent.pressed && t->awaiting)
        t->waitUntil = sent.at + t->timing.wait;
    if (asked.press && !sent.pressed && t->phase == TAP_HOLDING) {
        t->phase = TAP_GAP;
        t->due = sent.retry;
        if (t->fresh) {
            t->sent--;
            t->tries--;
            t->awaiting = t->tries > 0;
        }
    }
}

static int64_t Earliest(int64_t a, int64_t b)
{
    return a < 0 || b < a ? b : a;
}

int64_t TapperDue(const Tapper *t)
{
    int64_t due = t->phase == TAP_IDLE ? -1 : t->due;
    if (t->fresh) {
        if (t->phase == TAP_IDLE && (t->awaiting || (Straggling(t) && TapperBusy(t))))
            due = Earliest(due, t->waitUntil);
        due = Earliest(due, t->freshUntil);
    }
    return due;
}

int32_t TapperLanding(const Tapper *t)
{
    if (t->fresh)
        return t->awaiting ? t->from + t->direction : t->game;
    if (t->phase != TAP_HOLDING)
        return t->assumed;
    return t->resetPending ? t->pending : t->assumed + t->direction;
}

int32_t TapperHeading(const Tapper *t)
{
    return TapperBusy(t) && t->target != GEAR_NONE ? t->target : TapperLanding(t);
}

bool TapperReporting(const Tapper *t)
{
    return t->fresh;
}

bool TapperBusy(const Tapper *t)
{
    if (t->phase == TAP_HOLDING)
        return true;
    if (t->fresh)
        return t->awaiting || (!t->stalled && Steps(t->game, t->target) != 0);
    return !t->stalled && Steps(t->assumed, t->target) != 0;
}

// "reverse", "neutral", "1st", "3rd", "8th".
static const char *GearWords(int32_t gear, char *words, size_t size)
{
    if (gear < GEAR_REVERSE)
        return "?";
    if (gear <= GEAR_NONE)
        return gear == GEAR_REVERSE ? "reverse" : "neutral";
    int32_t last = gear % 10;
    bool teen = gear / 10 % 10 == 1;
    snprintf(words, size, "%d%s", gear,
             teen ? "th" : last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th");
    return words;
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
    char a[16], b[16];
    if (news.lost)
        add(snprintf(text + used, size - used, "no reports from the game: counting taps from %s\n",
                     GearWords(news.game, a, sizeof a)));
    if (news.heard)
        add(snprintf(text + used, size - used, "the game reports %s\n", GearWords(news.game, a, sizeof a)));
    if (news.reset && news.reported)
        add(snprintf(text + used, size - used, "reset ignored: the game reports %s\n",
                     GearWords(news.game, a, sizeof a)));
    else if (news.reset)
        add(snprintf(text + used, size - used, "reset: the game is taken to be in neutral\n"));
    if (news.set && news.reported)
        add(snprintf(text + used, size - used, "%s ignored: the game reports %s\n", GearWords(news.to, b, sizeof b),
                     GearWords(news.game, a, sizeof a)));
    else if (news.set)
        add(snprintf(text + used, size - used, "the game is taken to be in %s\n", GearWords(news.game, a, sizeof a)));
    if (news.shifted)
        add(snprintf(text + used, size - used, "the game shifted to %s by itself\n",
                     GearWords(news.game, a, sizeof a)));
    if (news.stopped)
        add(snprintf(text + used, size - used, "the change to %s stopped: the game stays in %s\n",
                     GearName(news.to), GearWords(news.game, a, sizeof a)));
    if (news.ended)
        add(snprintf(text + used, size - used, "the change to %s ended in %s\n", GearName(news.named),
                     GearName(news.endedIn)));
    if (news.change) {
        int32_t taps = news.to - news.from;
        add(snprintf(text + used, size - used, "%s -> %s: %d x %s", GearName(news.from),
                     GearName(news.to), taps > 0 ? taps : -taps, taps > 0 ? upKey : downKey));
        if (news.reported)
            add(snprintf(text + used, size - used, " (the game reports %s)", GearWords(news.from, a, sizeof a)));
        add(snprintf(text + used, size - used, "\n"));
    }
    return used;
}
