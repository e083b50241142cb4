// The tap scheduler against a simulated clock: whole traces of key events for the cases
// that matter, and a long random run checked against the rules.
#include <gtest/gtest.h>

#include <stdint.h>

#include <sstream>
#include <string>

#include "core/tapper.h"

namespace {

int32_t GearOf(const std::string &word)
{
    return word == "R" ? -1 : word == "N" ? 0 : std::stoi(word);
}

// Runs `events` ("TIME GEAR" with a gear of 1..7, R or N; "TIME x GEAR" for a reset held
// with it; "TIME stop"; "TIME refuse UNTIL": key-downs do not go out before UNTIL, as while
// a new keyboard settles; "TIME gGEAR": the game reports GEAR; "TIME set GEAR": the user
// says the game is in GEAR) on a Tapper, firing its timer when due. Returns the keys it
// sends, "TIME U" up-key down, "TIME u" up-key up, D and d for the down key; and in *news
// its status lines, "TIME LINE" joined by "; ", with the keys named U and D.
std::string Trace(const std::string &events, int32_t *landing, std::string *news, TapTiming timing)
{
    Tapper t;
    TapperStart(&t, timing);
    std::ostringstream trace, said;
    int64_t readyAt = 0;
    auto send = [&](int64_t now, TapActions a) {
        if (a.release)
            trace << now << (a.release > 0 ? " u " : " d ");
        bool pressed = a.press && now >= readyAt;
        if (pressed)
            trace << now << (a.press > 0 ? " U " : " D ");
        TapperDone(&t, a, {a.release != 0, pressed, now, readyAt});
        char text[256];
        FormatNews(a.news, "U", "D", text, sizeof text);
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            said << now << " " << line << "; ";
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
        if (word == "refuse") {
            in >> readyAt;
            continue;
        }
        if (word == "set") {
            in >> word;
            send(now, TapperSetGear(&t, now, GearOf(word)));
            continue;
        }
        if (word[0] == 'g') {
            send(now, TapperReading(&t, now, GearOf(word.substr(1))));
            continue;
        }
        send(now, TapperLever(&t, now, GearOf(word), reset));
    }
    runUntil(INT64_MAX / 2);
    EXPECT_FALSE(TapperBusy(&t));
    EXPECT_EQ(TapperDue(&t), -1);  // at rest nothing wakes it
    *landing = TapperLanding(&t);
    auto trimmed = [](std::string s, size_t tail) { return s.empty() ? s : s.substr(0, s.size() - tail); };
    *news = trimmed(said.str(), 2);
    return trimmed(trace.str(), 1);
}

struct TraceCase {
    const char *name;
    const char *events;
    const char *trace;
    int32_t landing;  // the gear the game is taken to be in at the end
    const char *news;
    TapTiming timing = {40, 40};
};

// With the game's reports: taps wait up to 150 for the game, and a report counts for 500.
const TapTiming Reports = {40, 40, 150, 500};

const TraceCase TraceCases[] = {
    {"ThreeUpHoldAndGapApart", "0 3  500 3", "0 U 40 u 80 U 120 u 160 U 200 u", 3, "0 N -> 3: 3 x U"},
    {"ReverseToSeventhIsEightTaps", "0 R  200 7",
     "0 D 40 d 200 U 240 u 280 U 320 u 360 U 400 u 440 U 480 u 520 U 560 u 600 U 640 u 680 U 720 u 760 U 800 u", 7,
     "0 N -> R: 1 x D; 200 R -> 7: 8 x U"},
    {"LeverBackWhereTheTapLandsEndsThere", "0 5  90 2", "0 U 40 u 80 U 120 u", 2,
     "0 N -> 5: 5 x U; 120 the change to 5 ended in 2"},
    {"LeverMovingBackTurnsAround", "0 6  50 R", "0 U 40 u 80 D 120 d 160 D 200 d", -1,
     "0 N -> 6: 6 x U; 50 1 -> R: 2 x D"},
    {"NeutralDoesNotStopAChange", "0 3  10 N", "0 U 40 u 80 U 120 u 160 U 200 u", 3, "0 N -> 3: 3 x U"},
    {"NeutralThenTheSameGearSendsNothing", "0 1  100 N  200 1  300 stop", "0 U 40 u", 1, "0 N -> 1: 1 x U"},
    {"ResetDuringATapCountsWhenItEnds", "0 2  20 x N  500 2", "0 U 40 u 500 U 540 u 580 U 620 u", 2,
     "0 N -> 2: 2 x U; 20 reset: the game is taken to be in neutral; 40 the change to 2 ended in N; "
     "500 N -> 2: 2 x U"},
    {"ResetDuringATapThenAGearSaysWhereTheFirstChangeEnded", "0 5  20 x N  30 3",
     "0 U 40 u 80 U 120 u 160 U 200 u 240 U 280 u", 3,
     "0 N -> 5: 5 x U; 20 reset: the game is taken to be in neutral; 30 the change to 5 ended in N; "
     "30 N -> 3: 3 x U"},
    {"ResetInAGapEndsTheChangeAtOnce", "0 3  50 x N", "0 U 40 u", 0,
     "0 N -> 3: 3 x U; 50 reset: the game is taken to be in neutral; 50 the change to 3 ended in N"},
    {"ResetWithAGearShiftsFromNeutral", "0 1  100 x 2", "0 U 40 u 100 U 140 u 180 U 220 u", 2,
     "0 N -> 1: 1 x U; 100 reset: the game is taken to be in neutral; 100 N -> 2: 2 x U"},
    {"ResetCountsWhenPressedNotWhileHeld", "0 x N  10 x 3  500 x 3", "10 U 50 u 90 U 130 u 170 U 210 u", 3,
     "0 reset: the game is taken to be in neutral; 10 N -> 3: 3 x U"},
    {"StopReleasesAtOnceAndTheTapCounts", "0 3  100 stop  1000 3", "0 U 40 u 80 U 100 u 1000 U 1040 u", 3,
     "0 N -> 3: 3 x U; 100 the change to 3 ended in 2; 1000 2 -> 3: 1 x U"},
    {"GapAlsoSeparatesTwoChanges", "0 1  50 2", "0 U 40 u 80 U 120 u", 2, "0 N -> 1: 1 x U; 50 1 -> 2: 1 x U"},
    {"ZeroGapPressesRightAfterTheRelease", "0 2", "0 U 10 u 10 U 20 u", 2, "0 N -> 2: 2 x U", {10, 0}},
    {"RefusedKeyDownIsTriedAgainAndNotCounted", "0 refuse 250  0 2", "250 U 290 u 330 U 370 u", 2,
     "0 N -> 2: 2 x U"},
    // A new keyboard between a key-up and the key-down that follows it at once.
    {"ZeroGapRefusedKeyDownWaitsForTheKeyboard", "0 2  5 refuse 100", "0 U 10 u 100 U 110 u", 2, "0 N -> 2: 2 x U",
     {10, 0}},
    {"SetGearCountsFromThereToTheLever", "0 3  500 set 2", "0 U 40 u 80 U 120 u 160 U 200 u 500 U 540 u", 3,
     "0 N -> 3: 3 x U; 500 the game is taken to be in 2nd; 500 2 -> 3: 1 x U"},

    // Closed by the game's reports. Each trace ends with the one wake-up when they go stale.
    {"LateReportHoldsTheNextTap", "0 g2  10 5  100 g3  200 g4  300 g5", "10 U 50 u 100 U 140 u 200 U 240 u", 5,
     "0 the game reports 2nd; 10 2 -> 5: 3 x U (the game reports 2nd); 800 no reports from the game: counting taps "
     "from 5th",
     Reports},
    {"ReportInTheMiddleOfAHold", "0 g2  10 4  30 g3  100 g4", "10 U 50 u 90 U 130 u", 4,
     "0 the game reports 2nd; 10 2 -> 4: 2 x U (the game reports 2nd); 600 no reports from the game: counting taps "
     "from 4th",
     Reports},
    {"NeutralWhileShiftingIsWaitedOut", "0 g3  10 4  60 gN  230 g4", "10 U 50 u", 4,
     "0 the game reports 3rd; 10 3 -> 4: 1 x U (the game reports 3rd); 730 no reports from the game: counting taps "
     "from 4th",
     Reports},
    {"FiveGearCarStopsAfterThreeTaps", "0 g5  10 6  300 g5  800 6", "10 U 50 u 160 U 200 u 310 U 350 u", 5,
     "0 the game reports 5th; 10 5 -> 6: 1 x U (the game reports 5th); 460 the change to 6 stopped: the game stays "
     "in 5th; 460 the change to 6 ended in 5; 800 no reports from the game: counting taps from 5th",
     Reports},
    {"LateTapOfAnEarlierTryIsTakenBack", "0 g3  10 5  180 g4  260 g5  300 g6  400 g5",
     "10 U 50 u 160 U 200 u 240 U 280 u 320 D 360 d", 5,
     "0 the game reports 3rd; 10 3 -> 5: 2 x U (the game reports 3rd); 900 no reports from the game: counting taps "
     "from 5th",
     Reports},
    // The first tap's report comes after its step was tapped again, and the lever turns back
    // before the second tap lands: that is ours too, taken back, not the game shifting itself.
    {"LateTapLandingAfterTheLeverTurnsBackIsTakenBack", "0 g4  10 5  170 g5  250 4  280 g6  350 g5  430 g4",
     "10 U 50 u 160 U 200 u 280 D 320 d 360 D 400 d", 4,
     "0 the game reports 4th; 10 4 -> 5: 1 x U (the game reports 4th); 250 5 -> 4: 1 x D (the game reports 5th); "
     "930 no reports from the game: counting taps from 4th",
     Reports},
    {"TurningBackWaitsOutATapThatNeverLands", "0 g4  10 5  170 g5  250 4  390 g4", "10 U 50 u 160 U 200 u 310 D 350 d",
     4,
     "0 the game reports 4th; 10 4 -> 5: 1 x U (the game reports 4th); 250 5 -> 4: 1 x D (the game reports 5th); "
     "890 no reports from the game: counting taps from 4th",
     Reports},
    {"GameShiftIsTheNewStartAndNotTappedBack", "0 g3  10 3  100 gN  200 3  300 1  350 g1", "300 U 340 u", 1,
     "0 the game reports 3rd; 100 the game shifted to neutral by itself; 300 N -> 1: 1 x U (the game reports "
     "neutral); 850 no reports from the game: counting taps from 1st",
     Reports},
    {"EighthAndUpTakenAsReported", "0 g9  10 7  100 g8  150 g7", "10 D 50 d 100 D 140 d", 7,
     "0 the game reports 9th; 10 9 -> 7: 2 x D (the game reports 9th); 650 no reports from the game: counting taps "
     "from 7th",
     Reports},
    {"WithoutReportsTapsAreCountedFromTheLast", "0 g2  10 2  600 4  800 g5", "600 U 640 u 680 U 720 u", 5,
     "0 the game reports 2nd; 500 no reports from the game: counting taps from 2nd; 600 2 -> 4: 2 x U; 800 the game "
     "reports 5th; 1300 no reports from the game: counting taps from 5th",
     Reports},
    {"ResetAndSetGiveWayToReports", "0 g3  10 3  50 x 3  60 set 2", "", 3,
     "0 the game reports 3rd; 50 reset ignored: the game reports 3rd; 60 2nd ignored: the game reports 3rd; 500 no "
     "reports from the game: counting taps from 3rd",
     Reports},
};

void PrintTo(const TraceCase &c, std::ostream *os)
{
    *os << c.name;
}

class Traces : public testing::TestWithParam<TraceCase> {};

TEST_P(Traces, SendsAndSaysExactlyThis)
{
    const TraceCase &c = GetParam();
    int32_t landing;
    std::string news;
    EXPECT_EQ(Trace(c.events, &landing, &news, c.timing), c.trace);
    EXPECT_EQ(landing, c.landing);
    EXPECT_EQ(news, c.news);
}

INSTANTIATE_TEST_SUITE_P(Tapper, Traces, testing::ValuesIn(TraceCases),
                         [](const testing::TestParamInfo<TraceCase> &info) { return info.param.name; });

TEST(Tapper, EarlyTimersDoNothing)
{
    Tapper t;
    TapperStart(&t, {40, 40});
    TapperLever(&t, 0, 2, false);
    TapActions a = TapperTimer(&t, 39);
    EXPECT_EQ(a.release | a.press, 0);
    EXPECT_EQ(TapperDue(&t), 40);
}

TEST(Tapper, HoldGapAndWaitAreTimedFromWhenTheKeysWentOut)
{
    Tapper t;
    TapperStart(&t, {40, 20, 100, 1000});
    TapperReading(&t, 0, 1);
    TapActions a = TapperLever(&t, 0, 2, false);
    TapperDone(&t, a, {false, true, 7, 0});  // the key-down was written late
    EXPECT_EQ(TapperDue(&t), 47);
    a = TapperTimer(&t, 47);
    EXPECT_EQ(a.release, 1);
    TapperDone(&t, a, {true, false, 50, 0});
    EXPECT_EQ(TapperDue(&t), 70);
    TapperTimer(&t, 70);
    EXPECT_EQ(TapperDue(&t), 107);  // the game has until then to report 2nd
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

// Random levers, resets, stops and key-downs refused for a while, at random times. From the
// key events alone: keys never overlap, every hold is the hold unless a stop cut it short,
// every gap is at least the gap, and the gear the game lands in is always the net taps sent
// since the last reset, which takes effect at once or, during a tap, when that tap ends. At
// the end the game is in the gear the lever engaged last.
TEST(Tapper, RandomRunKeepsTheRules)
{
    const int64_t hold = 30, gap = 20;
    Random random = {20261207};
    for (int run = 0; run < 200; run++) {
        Tapper t;
        TapperStart(&t, {hold, gap});
        int64_t now = 0, downAt = -1, upAt = -gap, readyAt = 0;
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
            bool refused = a.press && at < readyAt;
            TapperDone(&t, a, {a.release != 0, a.press && !refused, at, readyAt});
            if (a.press && !refused) {
                ASSERT_EQ(down, 0) << "run " << run << " at " << at;
                ASSERT_GE(at - upAt, gap) << "run " << run;
                down = a.press;
                downAt = at;
            }
            int32_t landing = !down ? net : resetOnRelease ? 0 : net + down;
            ASSERT_EQ(TapperLanding(&t), landing) << "run " << run << " at " << at;
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
            if (roll < 6) {
                readyAt = now + random.Below(100);
                continue;
            }
            bool reset = roll < 12 ? !resetHeld : resetHeld && roll < 60;
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

// A scripted game on the closed loop: it reports its gear every 16, takes a key-down unless
// it is still shifting, the gear does not exist or it drops it (a quarter of the rest), and
// now and then shifts by itself, well after the last tap. Once nothing more is sent after a lever move, the game is
// in the lever's gear, unless the change stopped after three key-downs in a row that the
// game did not take; and while the lever stays still after the game shifted, no key goes down.
TEST(Tapper, ClosedLoopKeepsAScriptedGameInStep)
{
    Random random = {20261208};
    for (int run = 0; run < 30; run++) {
        Tapper t;
        TapperStart(&t, {40, 40, 300, 500});
        const int32_t top = random.Below(2) ? 6 : 5;  // the car's gears, with the lever up to 6
        const int64_t shift = random.Below(3) * 60;
        int64_t now = 0, nextReport = 0, busyUntil = 0;
        int32_t game = 0, target = 0, lever = 0, missed = 0;
        bool gaveUp = false, still = false;  // still: the game shifted itself and the lever has not moved
        auto apply = [&](TapActions a) {
            TapperDone(&t, a, {a.release != 0, a.press != 0, now, now});
            EXPECT_TRUE(!a.news.stopped || missed >= 3) << "run " << run << " stopped early at " << now;
            gaveUp = gaveUp || a.news.stopped;
            if (!a.press)
                return;
            ASSERT_FALSE(still) << "run " << run << " tapped at " << now << " after the game shifted itself";
            int32_t to = game + a.press;
            bool taken = now >= busyUntil && to >= -1 && to <= top && random.Below(4) != 0;
            missed = taken ? 0 : missed + 1;
            if (taken) {
                game = to;
                busyUntil = now + shift;
            }
        };
        auto runFor = [&](int64_t length) {
            for (int64_t end = now + length; now < end || TapperBusy(&t);) {
                int64_t due = TapperDue(&t);
                now = due >= 0 && due < nextReport ? due : nextReport;
                if (now == nextReport) {
                    apply(TapperReading(&t, now, game));
                    nextReport += 16;
                } else {
                    apply(TapperTimer(&t, now));
                }
            }
        };
        for (int move = 0; move < 60; move++) {
            int32_t was = lever;
            lever = static_cast<int32_t>(random.Below(8)) - 1;
            if (lever != 0 && lever != was) {  // engaging a gear, even the same one after neutral, moves the lever
                gaveUp = still = false;
                target = lever;
            }
            apply(TapperLever(&t, now, lever, false));
            runFor(200);
            ASSERT_TRUE(game == target || gaveUp || still) << "run " << run << " move " << move;
            if (random.Below(8) == 0) {
                runFor(400);  // past the wait for the last tap, which may still land till then
                game = static_cast<int32_t>(random.Below(static_cast<uint32_t>(top) + 2)) - 1;
                still = true;
                runFor(1000);
            }
        }
    }
}

}  // namespace
