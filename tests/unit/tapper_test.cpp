// The tap scheduler against a simulated clock: whole traces of key events for the cases
// that matter, and a long random run checked against the rules.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "core/tapper.h"

namespace {

using Trace = std::vector<std::string>;

// Drives a Tapper like a front end with a timer would, and records "TIME KEY EDGE" lines.
struct Rig {
    Tapper t;
    Trace trace;

    explicit Rig(int64_t hold = 40, int64_t gap = 40) { TapperStart(&t, {hold, gap}); }

    void Send(int64_t now, TapActions a)
    {
        if (a.release)
            trace.push_back(std::to_string(now) + (a.release > 0 ? " up" : " down") + " released");
        if (a.press)
            trace.push_back(std::to_string(now) + (a.press > 0 ? " up" : " down") + " pressed");
    }
    // Fires the timer at every due time up to `until`.
    void RunUntil(int64_t until)
    {
        for (int64_t due; (due = TapperDue(&t)) >= 0 && due <= until;)
            Send(due, TapperTimer(&t, due));
    }
    void Lever(int64_t now, int32_t gear, bool reset = false)
    {
        RunUntil(now);
        Send(now, TapperLever(&t, now, gear, reset));
    }
    void Stop(int64_t now)
    {
        RunUntil(now);
        Send(now, TapperStop(&t, now));
    }
    Trace Take(int64_t until = INT64_MAX / 2)
    {
        RunUntil(until);
        Trace taken;
        taken.swap(trace);
        return taken;
    }
};

// `count` taps of one key from `start`, hold and gap 40.
Trace Taps(int64_t start, const char *key, int count)
{
    Trace trace;
    for (int i = 0; i < count; i++) {
        trace.push_back(std::to_string(start + 80 * i) + " " + key + " pressed");
        trace.push_back(std::to_string(start + 80 * i + 40) + " " + key + " released");
    }
    return trace;
}

TEST(Tapper, ChangeOfThreeGearsIsThreeTapsHoldAndGapApart)
{
    Rig r;
    r.Lever(0, 3);
    EXPECT_EQ(r.Take(), Taps(0, "up", 3));
    EXPECT_EQ(r.t.assumed, 3);
    r.Lever(500, 3);
    EXPECT_EQ(r.Take(), Trace{});
}

TEST(Tapper, LeverMovingOnRetargetsFromWhereTheTapsPutTheGame)
{
    Rig r;
    r.Lever(0, 5);
    r.Lever(90, 2);  // the second tap is down: it ends, then no more
    EXPECT_EQ(r.Take(), Taps(0, "up", 2));
    EXPECT_EQ(r.t.assumed, 2);

    r.Lever(1000, 6);
    r.Lever(1050, -1);  // in the gap after 3rd: down from 3 to reverse
    Trace expected = Taps(1000, "up", 1);
    Trace down = Taps(1080, "down", 4);
    expected.insert(expected.end(), down.begin(), down.end());
    EXPECT_EQ(r.Take(), expected);
    EXPECT_EQ(r.t.assumed, -1);
}

TEST(Tapper, NeutralDoesNotStopAChangeAndSendsNothing)
{
    Rig r;
    r.Lever(0, 3);
    r.Lever(10, 0);
    EXPECT_EQ(r.Take(), Taps(0, "up", 3));
    r.Lever(1000, 0);
    r.Lever(1100, 3);
    EXPECT_EQ(r.Take(), Trace{});
    r.Lever(1200, 5);
    EXPECT_EQ(r.Take(), Taps(1200, "up", 2));
}

TEST(Tapper, ResetDuringATapTakesEffectWhenTheTapEnds)
{
    Rig r;
    r.Lever(0, 4);
    r.Take();
    r.Lever(1000, 6);
    r.Lever(1020, 0, true);  // the game is in neutral now; the tap under way still counts
    EXPECT_EQ(r.Take(), Taps(1000, "up", 1));
    EXPECT_EQ(r.t.assumed, 0);
    r.Lever(2000, 2);
    EXPECT_EQ(r.Take(), Taps(2000, "up", 2));  // from neutral, not down from 5
}

TEST(Tapper, ResetWithAGearShiftsFromNeutralToIt)
{
    Rig r;
    r.Lever(0, 4);
    r.Take();
    r.Lever(1000, 2, true);
    EXPECT_EQ(r.Take(), Taps(1000, "up", 2));
    r.Lever(2000, 6);
    r.Lever(2010, 3, true);  // during a tap: it ends, then from neutral to 3rd
    Trace expected = Taps(2000, "up", 1);
    Trace up = Taps(2080, "up", 3);
    expected.insert(expected.end(), up.begin(), up.end());
    EXPECT_EQ(r.Take(), expected);
    EXPECT_EQ(r.t.assumed, 3);
}

TEST(Tapper, ResetCountsWhenPressedNotWhileHeld)
{
    Rig r;
    r.Lever(0, 0, true);
    r.Lever(10, 3, true);  // still held: no second reset
    EXPECT_EQ(r.Take(), Taps(10, "up", 3));
    r.Lever(1000, 3, true);  // another event while held, say from a wheel on the same device
    EXPECT_EQ(r.Take(), Trace{});
    EXPECT_EQ(r.t.assumed, 3);
    r.Lever(1100, 0, false);
    r.Lever(1200, 0, true);
    EXPECT_EQ(r.t.assumed, 0);
}

TEST(Tapper, StopReleasesTheKeyAtOnceAndTheTapCounts)
{
    Rig r;
    r.Lever(0, 3);
    r.Stop(100);  // the second tap is down
    EXPECT_EQ(r.Take(), (Trace{"0 up pressed", "40 up released", "80 up pressed", "100 up released"}));
    EXPECT_EQ(r.t.assumed, 2);
    // Back again with the lever still in 3rd: the game is taken there from 2nd.
    r.Lever(1000, 3);
    EXPECT_EQ(r.Take(), Taps(1000, "up", 1));
}

TEST(Tapper, GapAlsoSeparatesTwoChanges)
{
    Rig r;
    r.Lever(0, 1);
    r.Lever(50, 2);
    EXPECT_EQ(r.Take(), Taps(0, "up", 2));
}

TEST(Tapper, ZeroGapPressesRightAfterTheRelease)
{
    Rig r(10, 0);
    r.Lever(0, -1);
    EXPECT_EQ(r.Take(), (Trace{"0 down pressed", "10 down released"}));
    r.Lever(100, 1);
    EXPECT_EQ(r.Take(), (Trace{"100 up pressed", "110 up released", "110 up pressed", "120 up released"}));
}

TEST(Tapper, EarlyTimerDoesNothing)
{
    Rig r;
    r.Lever(0, 2);
    r.Take(0);
    TapActions a = TapperTimer(&r.t, 39);
    EXPECT_EQ(a.release, 0);
    EXPECT_EQ(a.press, 0);
    EXPECT_EQ(TapperDue(&r.t), 40);
}

// splitmix64, so that a seed gives the same run everywhere.
struct Random {
    uint64_t state;
    uint32_t Below(uint32_t n)
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32) % n;
    }
};

// Random levers, resets and stops at random times. From the key events alone: keys never
// overlap, every hold is the hold unless a stop cut it short, every gap is at least the
// gap, and the assumed gear is always the net taps since the last reset, which takes
// effect at once or, during a tap, when that tap ends. At the end the game is in the gear
// the lever engaged last.
TEST(Tapper, RandomRunKeepsTheRules)
{
    const int64_t hold = 30, gap = 20;
    Random random = {20261207};
    for (int run = 0; run < 200; run++) {
        Tapper t;
        TapperStart(&t, {hold, gap});
        int64_t now = 0, downAt = -1, upAt = -gap;
        int32_t down = 0, net = 0;
        bool resetHeld = false, resetOnRelease = false;
        auto check = [&](TapActions a, bool stopping) {
            if (a.release) {
                ASSERT_EQ(a.release, down) << "run " << run << " at " << now;
                if (!stopping) {
                    ASSERT_EQ(now - downAt, hold) << "run " << run;
                }
                net += down;
                down = 0;
                upAt = now;
                if (resetOnRelease)
                    net = 0;
                resetOnRelease = false;
            }
            if (a.press) {
                ASSERT_EQ(down, 0) << "run " << run << " at " << now;
                ASSERT_GE(now - upAt, gap) << "run " << run;
                down = a.press;
                downAt = now;
            }
            ASSERT_EQ(t.assumed, net) << "run " << run << " at " << now;
        };
        for (int step = 0; step < 300; step++) {
            now += random.Below(4) == 0 ? random.Below(200) : random.Below(15);
            for (int64_t due; (due = TapperDue(&t)) >= 0 && due <= now;) {
                int64_t was = now;
                now = due;
                check(TapperTimer(&t, due), false);
                now = was;
            }
            uint32_t roll = random.Below(100);
            if (roll < 3) {
                check(TapperStop(&t, now), true);
                resetHeld = false;
                continue;
            }
            bool reset = roll < 10 ? !resetHeld : resetHeld && roll < 60;
            int32_t gear = static_cast<int32_t>(random.Below(9)) - 1;
            if (reset && !resetHeld) {
                if (down)
                    resetOnRelease = true;
                else
                    net = 0;
            }
            resetHeld = reset;
            check(TapperLever(&t, now, gear, reset), false);
        }
        now += 1000;
        check(TapperLever(&t, now, 4, false), false);
        for (int64_t due; (due = TapperDue(&t)) >= 0;) {
            now = due;
            check(TapperTimer(&t, due), false);
        }
        ASSERT_EQ(net, 4) << "run " << run;
        ASSERT_EQ(down, 0) << "run " << run;
    }
}

}  // namespace
