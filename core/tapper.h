// The tap scheduler of a front end with a clock: it turns the lever's gear into key taps
// of a set hold and gap, and says what a status line should report. When the game reports
// its gear, the taps start from that gear and wait for the game to take each one. Time is
// handed in with every call, in any one unit; nothing here sleeps or reads a clock.
#ifndef GEARVANE_TAPPER_H
#define GEARVANE_TAPPER_H

#include <stddef.h>
#include <stdint.h>

struct TapTiming {
    int64_t hold;       // key-down to key-up
    int64_t gap;        // key-up to the next key-down
    int64_t wait = 0;   // key-down to the game's report of the tap's gear, before the step is tapped again
    int64_t fresh = 0;  // how long a report of the game's gear counts; 0: the game's reports are ignored
};

// How long a report of the game's gear counts, and the default wait for a tap's gear.
enum { TELEMETRY_FRESH_MS = 500, TELEMETRY_WAIT_MS = 500 };

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
    int32_t pending;    // the gear it says the game is in
    bool underway;      // a change that a status line named has not ended yet
    int32_t named;      // the gear that line named
    int32_t lever;      // the lever's gear as last seen, GEAR_NONE in neutral
    bool stalled;       // no taps until the lever engages a gear: the game did not follow, or shifted itself

    // The game's reports of its gear.
    bool fresh;          // a report came less than timing.fresh ago: the game's gear is known
    int64_t freshUntil;
    int32_t game;        // the gear last reported
    int32_t from;        // the game's gear when the taps since went down
    int32_t sent;        // taps sent since, all in `direction`, that the game may still take
    bool awaiting;       // the last tap's gear is not reported yet
    int32_t tries;       // taps of the step under way
    int64_t waitUntil;   // when that step is tapped again
};

// What a call means for the status lines (see FormatNews).
struct TapNews {
    bool reset;     // the reset was pressed: the game is taken to be in neutral, or `reported` it is in `game`
    bool set;       // the user said the game is in `game`; or `reported`: said `to`, but the game reports `game`
    bool change;    // a change begins, from gear `from` to gear `to`; `reported`: the game reports `from`
    bool ended;     // the change under way ended in gear `endedIn`, not in `named`, the gear its line named
    bool stopped;   // the change to `to` stopped: the game stays in `game` however often it is tapped
    bool shifted;   // the game shifted to `game` by itself
    bool lost;      // the game's reports stopped; taps are counted from `game`
    bool heard;     // the game reports `game`, for the first time or after they stopped
    bool reported;
    int32_t from, to, game;
    int32_t endedIn, named;
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

// The game reports at `now` that it is in `gear` (-1 reverse, 0 neutral, 1.. forward): a
// packet with a gear while the race is on. For timing.fresh after it, changes start from
// the game's gear; each tap waits for the game to report the tap's gear, and its step is
// tapped again at most twice if that does not come within timing.wait of the key-down. A
// gear the game takes without a tap is the new start and is never tapped back: no taps go
// until the lever engages a gear. Taps the other way wait until a step tapped again has
// landed or its wait is over. Does nothing when timing.fresh is 0.
TapActions TapperReading(Tapper *t, int64_t now, int32_t gear);

// The user says that the game is in `gear` now. Without a fresh report of the game's own,
// it is taken as a reset takes neutral: the change under way stops (once its tap has
// ended), and the taps go from `gear` to the lever's gear if one is engaged. A fresh report
// wins, and nothing changes.
TapActions TapperSetGear(Tapper *t, int64_t now, int32_t gear);

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

// When TapperTimer must be called next, or -1 when nothing is due. While the game's reports
// are fresh this includes the moment they go stale, once; at rest without them it is -1.
int64_t TapperDue(const Tapper *t);

// The gear the game will be in once the tap under way has ended: the game's report when it
// is fresh and no tap is under way, else the count.
int32_t TapperLanding(const Tapper *t);

// The gear the taps head for: the last gear engaged on the lever, capped, while taps are
// still to come; else the same as TapperLanding.
int32_t TapperHeading(const Tapper *t);

// Whether the game's report of its gear is fresh: TapperLanding is the game's word.
bool TapperReporting(const Tapper *t);

// Whether a key is down or taps are still to come.
bool TapperBusy(const Tapper *t);

// The status lines of `news`, each ending in a newline, written into `text` (`size` bytes,
// always terminated), in this order: the game's reports stopped or came back, the reset,
// the user's word, "the game shifted to neutral by itself", "the change to 6 stopped: the
// game stays in 5th", "the change to 4 ended in N", and "N -> 7: 7 x KEY_PAGEUP" with the
// names of the keys ("3 -> 4: 1 x KEY_PAGEUP (the game reports 3rd)"). Returns the length
// written.
size_t FormatNews(const TapNews &news, const char *upKey, const char *downKey, char *text, size_t size);

#endif
