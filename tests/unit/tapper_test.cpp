// The tap scheduler against a simulated clock: whole traces of key events for the cases
// that matter, and a long random run checked against the rules.
#include <gtest/gtest.h>

#include <stdint.h>

#include <sstream>
#include <string>

#include "core/tapper.h"

namespace {

// Runs `events` ("TIME GEAR" with a gear of 1..7, R or N; "TIME x GEAR" for a reset held
// with it; "TIME stop") on a Tapper with hold and gap 40, firing its timer when due, and
// writes what it sends: "TIME U" up-key down, "TIME u" up-key up, D and d for the down key.
std::string Trace(const std::string &events, int32_t *assumed, int64_t hold = 40, int64_t gap = 40)
{
    Tapper t;
    TapperStart(&t, {hold, gap});
    std::ostringstream trace;
    auto send = [&](int64_t now, TapActions a) {
        if (a.release)
            trace << now << (a.release > 0 ? " u " : " d ");
        if (a.press)
            trace << now << (a.press > 0 ? " U " : " D ");
    };
    auto runUntil = [&](int64_t until) {
        for (int64_t due; (due = TapperDue(&t)) >= 0 && due <= until;)
            send(due, TapperTimer(&t, due));
    };
    std::istringstream in(events);
    int64_t now;
    std::string word;
    while (in >> now >> word) {
        runUntil(now);
        bool reset = word == "x";
        if (reset)
            in >> word;
        if (word == "stop") {
            send(now, TapperStop(&t, now));
            continue;
        }
        int32_t gear = word == "R" ? -1 : word == "N" ? 0 : std::stoi(word);
        send(now, TapperLever(&t, now, gear, reset));
    }
    runUntil(INT64_MAX / 2);
    *assumed = t.assumed;
    std::string s = trace.str();
    return s.empty() ? s : s.substr(0, s.size() - 1);
}

struct TraceCase {
    const char *name;
    const char *events;
    const char *trace;
    int32_t assumed;
};

const TraceCase TraceCases[] = {
    {"ThreeUpHoldAndGapApart", "0 3  500 3", "0 U 40 u 80 U 120 u 160 U 200 u", 3},
    {"ReverseToSeventhIsEightTaps", "0 R  200 7",
     "0 D 40 d 200 U 240 u 280 U 320 u 360 U 400 u 440 U 480 u 520 U 560 u 600 U 640 u 680 U 720 u 760 U 800 u", 7},
    {"LeverMovingOnStopsAtTheNewGear", "0 5  90 2", "0 U 40 u 80 U 120 u", 2},
    {"LeverMovingBackTurnsAround", "0 6  50 R", "0 U 40 u 80 D 120 d 160 D 200 d", -1},
    {"NeutralDoesNotStopAChange", "0 3  10 N", "0 U 40 u 80 U 120 u 160 U 200 u", 3},
    {"NeutralThenTheSameGearSendsNothing", "0 1  100 N  200 1", "0 U 40 u", 1},
    {"ResetDuringATapCountsWhenItEnds", "0 2  20 x N  500 2", "0 U 40 u 500 U 540 u 580 U 620 u", 2},
    {"ResetWithAGearShiftsFromNeutral", "0 1  100 x 2", "0 U 40 u 100 U 140 u 180 U 220 u", 2},
    {"ResetCountsWhenPressedNotWhileHeld", "0 x N  10 x 3  500 x 3", "10 U 50 u 90 U 130 u 170 U 210 u", 3},
    {"StopReleasesAtOnceAndTheTapCounts", "0 3  100 stop  1000 3", "0 U 40 u 80 U 100 u 1000 U 1040 u", 3},
    {"StopThenNothingUntilTheLeverMoves", "0 3  100 stop", "0 U 40 u 80 U 100 u", 2},
    {"GapAlsoSeparatesTwoChanges", "0 1  50 2", "0 U 40 u 80 U 120 u", 2},
};

void PrintTo(const TraceCase &c, std::ostream *os)
{
    *os << c.name;
}

class Traces : public testing::TestWithParam<TraceCase> {};

TEST_P(Traces, SendsExactlyThis)
{
    int32_t assumed;
    EXPECT_EQ(Trace(GetParam().events, &assumed), GetParam().trace);
    EXPECT_EQ(assumed, GetParam().assumed);
}

INSTANTIATE_TEST_SUITE_P(Tapper, Traces, testing::ValuesIn(TraceCases),
                         [](const testing::TestParamInfo<TraceCase> &info) { return info.param.name; });

TEST(Tapper, ZeroGapPressesRightAfterTheReleaseAndEarlyTimersDoNothing)
{
    int32_t assumed;
    EXPECT_EQ(Trace("0 2", &assumed, 10, 0), "0 U 10 u 10 U 20 u");
    Tapper t;
    TapperStart(&t, {40, 40});
    TapperLever(&t, 0, 2, false);
    TapActions a = TapperTimer(&t, 39);
    EXPECT_EQ(a.release | a.press, 0);
    EXPECT_EQ(TapperDue(&t), 40);
}

TEST(Tapper, HoldAndGapAreTimedFromWhenTheKeysWentOut)
{
    Tapper t;
    TapperStart(&t, {40, 20});
    TapperLever(&t, 0, 2, false);
    TapperSent(&t, 7);  // the key-down was written late
    EXPECT_EQ(TapperDue(&t), 47);
    TapActions a = TapperTimer(&t, 47);
    EXPECT_EQ(a.release, 1);
    TapperSent(&t, 50);
    EXPECT_EQ(TapperDue(&t), 70);
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
        auto check = [&](int64_t at, TapActions a, bool stopping) {
            if (a.release) {
                ASSERT_EQ(a.release, down) << "run " << run << " at " << at;
                if (!stopping) {
                    ASSERT_EQ(at - downAt, hold) << "run " << run;
                }
                net = resetOnRelease ? 0 : net + down;
                down = 0;
                upAt = at;
                resetOnRelease = false;
            }
            if (a.press) {
                ASSERT_EQ(down, 0) << "run " << run << " at " << at;
                ASSERT_GE(at - upAt, gap) << "run " << run;
                down = a.press;
                downAt = at;
            }
            ASSERT_EQ(t.assumed, net) << "run " << run << " at " << at;
        };
        auto runUntil = [&](int64_t until) {
            for (int64_t due; (due = TapperDue(&t)) >= 0 && due <= until;)
                check(due, TapperTimer(&t, due), false);
        };
        for (int step = 0; step < 300; step++) {
            now += random.Below(4) == 0 ? random.Below(200) : random.Below(15);
            runUntil(now);
            uint32_t roll = random.Below(100);
            if (roll < 3) {
                check(now, TapperStop(&t, now), true);
                resetHeld = false;
                continue;
            }
            bool reset = roll < 10 ? !resetHeld : resetHeld && roll < 60;
            if (reset && !resetHeld) {
                if (down)
                    resetOnRelease = true;
                else
                    net = 0;
            }
            resetHeld = reset;
            check(now, TapperLever(&t, now, static_cast<int32_t>(random.Below(9)) - 1, reset), false);
        }
        now += 1000;
        check(now, TapperLever(&t, now, 4, false), false);
        runUntil(INT64_MAX / 2);
        ASSERT_EQ(net, 4) << "run " << run;
        ASSERT_EQ(down, 0) << "run " << run;
    }
}

}  // namespace
