// The tap scheduler of a front end with a clock: it turns the lever's gear into key taps
// of a set hold and gap, and says what a status line should report. Time is handed in with
// every call, in any one unit; nothing here sleeps or reads a clock.
#ifndef GEARVANE_TAPPER_H
#define GEARVANE_TAPPER_H

#include <stddef.h>
#include <stdint.h>

struct TapTiming {
    int64_t hold;  // key-down to key-up
    int64_t gap;   // key-up to the next key-down
};

enum TapPhase { TAP_IDLE, TAP_HOLDING, TAP_GAP };

// The scheduler's state. Front ends use the functions below, never the fields.
struct Tapper {
    TapTiming timing;
    int32_t assumed;    // the gear the game is assumed to be in: the net taps since the last reset
    int32_t target;     // the last gear engaged on the lever
    TapPhase phase;
    int32_t direction;  // of the tap under way: +1 shift up, -1 shift down
    int64_t due;        // when the current phase ends
    bool resetHeld;     // the reset input as last seen
    bool resetPending;  // a reset seen during a tap, to take effect once the tap has ended
    bool underway;      // a change that a status line named has not ended yet
    int32_t named;      // the gear that line named
};

// What a call means for the status lines (see FormatNews).
struct TapNews {
    bool reset;   // the reset was pressed: the game is taken to be in neutral
    bool ended;   // the change under way ended in gear `endedIn`, not in `named`, the gear its line named
    bool change;  // a change begins, from gear `from` to gear `to`
    int32_t endedIn, named;
    int32_t from, to;
};

// What the front end sends now, in this order: a key-up, then a key-down. Each is a
// direction (+1 the shift-up key, -1 the shift-down key) or 0 for none. The news comes after
// the keys.
struct TapActions {
    int32_t release;
    int32_t press;
    TapNews news;
};

void TapperStart(Tapper *t, TapTiming timing);

// New hold and gap; a hold or gap under way keeps its end.
void TapperSetTiming(Tapper *t, TapTiming timing);

// The lever's gear, decoded and capped, and whether its reset input is held, at `now`.
// Neutral keeps the target: a change under way goes on to the last gear engaged. A reset
// counts when the input becomes held; it means "the game is in neutral now" and takes
// effect once the tap under way has ended.
TapActions TapperLever(Tapper *t, int64_t now, int32_t gear, bool reset);

// To be called at TapperDue(); an early call does nothing.
TapActions TapperTimer(Tapper *t, int64_t now);

// The lever is gone or the program ends: a key that is down is released now and its tap
// counts (the game saw its down and its up), and no further taps are sent until the lever
// engages a gear again.
TapActions TapperStop(Tapper *t, int64_t now);

// What a front end's key output did with a call's actions.
struct TapSent {
    bool released;  // the key-up went out
    bool pressed;   // the key-down went out
    int64_t at;     // when they went out
    int64_t retry;  // a key-down asked for that did not go out is tried again then
};

// Tells the scheduler what went out of the last call's actions. The hold or the gap that
// the keys began is timed from `sent.at`, so that a front end held up between its clock and
// its write still holds each key, and pauses between taps, for the full time. A key-down
// that did not go out does not count as a tap: no key is down, and the next key-down is
// tried at `sent.retry`.
void TapperDone(Tapper *t, const TapActions &asked, const TapSent &sent);

// When TapperTimer must be called next, or -1 when nothing is due.
int64_t TapperDue(const Tapper *t);

// The gear the game will be in once the tap under way has ended.
int32_t TapperLanding(const Tapper *t);

// Whether a key is down or taps are still to come.
bool TapperBusy(const Tapper *t);

// The status lines of `news`, each ending in a newline, written into `text` (`size` bytes,
// always terminated), in this order: "reset: the game is taken to be in neutral", "the change
// to 4 ended in N", "N -> 7: 7 x KEY_PAGEUP" with the names of the keys. Returns the length
// written.
size_t FormatNews(const TapNews &news, const char *upKey, const char *downKey, char *text, size_t size);

#endif
