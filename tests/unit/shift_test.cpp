// Shift sequencer: the exact key events, spins and debug text of each gear change.
#include <gtest/gtest.h>

#include "core/gear.h"
#include "core/shift.h"
#include "core/state.h"
#include "fake_platform.h"
#include "resources/resource.h"

namespace {

using Log = std::vector<std::string>;

// Gate positions of the lever, as the controller reports them.
struct Lever {
    unsigned buttons;
    unsigned pov;
};
const Lever Neutral = {0, POV_CENTERED};
const Lever Position1 = {0x20, POV_CENTERED};  // button 6
const Lever Position3 = {0x01, POV_CENTERED};  // button 1
const Lever Position4 = {0x02, POV_CENTERED};  // button 2
const Lever Position5 = {0, POV_FORWARD};
const Lever Position6 = {0, POV_LEFT};
const Lever Position7 = {0, POV_BACKWARD};
const Lever Position8 = {0, POV_RIGHT};
const Lever Reset = {0x400, POV_CENTERED};

// Runs one tick with the lever in `lever` and returns what it did.
Log Tick(Lever lever)
{
    Fake.buttons = lever.buttons;
    Fake.pov = lever.pov;
    EXPECT_EQ(ShiftStep(FakeDialog), 0);
    return TakeLog();
}

// k taps of `key` as the sequencer must send them, with WAIT1 = 50 and WAIT2 = 20 (x1000).
Log Taps(const std::string &key, int k)
{
    Log log;
    for (int i = 0; i < k; i++) {
        if (i > 0)
            log.push_back("spin 20000");
        log.insert(log.end(), {key + " down", "spin 50000", key + " up"});
    }
    log.push_back("text ' '");
    return log;
}

class Sequencer : public testing::Test {
protected:
    void SetUp() override
    {
        ResetFake();
        WAIT1 = 50000;
        WAIT2 = 20000;
    }
};

TEST_F(Sequencer, TwoGearsUpIsTwoTapsWithThePauseBetween)
{
    CurrentGear = 2;
    EXPECT_EQ(Tick(Position4), (Log{"PgUp down", "spin 50000", "PgUp up", "spin 20000", "PgUp down",
                                    "spin 50000", "PgUp up", "text ' '"}));
    EXPECT_EQ(CurrentGear, 4);
    EXPECT_EQ(Tick(Position4), Log{});
    EXPECT_EQ(Tick(Position4), Log{});
}

TEST_F(Sequencer, FirstGearFromStartIsOneTap)
{
    EXPECT_EQ(Tick(Neutral), Log{});
    EXPECT_EQ(Tick(Position1), Taps("PgUp", 1));
    EXPECT_EQ(CurrentGear, 1);
}

TEST_F(Sequencer, FirstToReverseGoesThroughNeutral)
{
    CurrentGear = 1;
    EXPECT_EQ(Tick(Position8), Taps("PgDn", 2));
    EXPECT_EQ(CurrentGear, -1);
}

TEST_F(Sequencer, ReverseToSeventhIsEightTaps)
{
    ClickRadio(IDC_MAXGEAR_7);
    CurrentGear = -1;
    EXPECT_EQ(Tick(Position7), Taps("PgUp", 8));
    EXPECT_EQ(CurrentGear, 7);
    EXPECT_EQ(Tick(Position8), Taps("PgDn", 8));
    EXPECT_EQ(CurrentGear, -1);
}

TEST_F(Sequencer, NeutralKeepsTheLastGear)
{
    EXPECT_EQ(Tick(Position3), Taps("PgUp", 3));
    EXPECT_EQ(Tick(Neutral), Log{});
    EXPECT_EQ(Tick(Position3), Log{});
    EXPECT_EQ(Tick(Neutral), Log{});
    EXPECT_EQ(Tick(Position5), Taps("PgUp", 2));
    EXPECT_EQ(CurrentGear, 5);
}

TEST_F(Sequencer, NonPositiveWaitsSpinOnce)
{
    WAIT1 = 0;
    WAIT2 = -7000;
    EXPECT_EQ(Tick(Position3), (Log{"PgUp down", "spin 1", "PgUp up", "spin 1", "PgUp down", "spin 1", "PgUp up",
                                    "spin 1", "PgUp down", "spin 1", "PgUp up", "text ' '"}));
}

TEST_F(Sequencer, ResetMakesTheNextGearCountFromNeutral)
{
    CurrentGear = 4;
    EXPECT_EQ(Tick(Reset), Log{});
    EXPECT_EQ(CurrentGear, 0);
    EXPECT_EQ(Tick(Position1), Taps("PgUp", 1));  // 1, not 3 down
    CurrentGear = 4;
    Tick(Reset);
    EXPECT_EQ(Tick({0x40, POV_CENTERED}), Taps("PgUp", 2));
}

TEST_F(Sequencer, ResetHeldWithHatShiftsFromNeutral)
{
    CurrentGear = 6;
    EXPECT_EQ(Tick({0x400, POV_FORWARD}), Taps("PgUp", 5));
    EXPECT_EQ(CurrentGear, 5);
}

TEST_F(Sequencer, LoweringTheMaximumShiftsDownAndRaisingItShiftsBack)
{
    EXPECT_EQ(Tick(Position6), Taps("PgUp", 6));
    ClickRadio(IDC_MAXGEAR_4);
    EXPECT_EQ(Tick(Position6), Taps("PgDn", 2));
    EXPECT_EQ(CurrentGear, 4);
    ClickRadio(IDC_MAXGEAR_6);
    EXPECT_EQ(Tick(Position6), Taps("PgUp", 2));
    EXPECT_EQ(CurrentGear, 6);
}

TEST_F(Sequencer, SwitchingThePlateReDecodesTheHeldPosition)
{
    EXPECT_EQ(Tick(Position3), Taps("PgUp", 3));
    ClickRadio(IDC_PLATE_NASCAR);
    EXPECT_EQ(Tick(Position3), Taps("PgDn", 2));
    EXPECT_EQ(CurrentGear, 1);
    ClickRadio(IDC_PLATE_STANDARD);
    EXPECT_EQ(Tick(Position3), Taps("PgUp", 2));
}

TEST_F(Sequencer, CappedPositionsAreTheSameGear)
{
    EXPECT_EQ(Tick(Position6), Taps("PgUp", 6));
    EXPECT_EQ(Tick(Position7), Log{});
    EXPECT_EQ(CurrentGear, 6);
}

TEST_F(Sequencer, NascarPositionTwoIsNoGear)
{
    ClickRadio(IDC_PLATE_NASCAR);
    CurrentGear = 2;
    EXPECT_EQ(Tick({0x40, POV_CENTERED}), Log{});
    EXPECT_EQ(CurrentGear, 2);
}

TEST_F(Sequencer, FailedPollsSendNothingAndKeepTheGear)
{
    EXPECT_EQ(Tick(Position4), Taps("PgUp", 4));
    Fake.failing = true;  // the fake still writes a gate position into the record
    EXPECT_EQ(Tick(Position1), Log{"text 'Joystick not responding'"});
    EXPECT_EQ(Tick(Reset), Log{});
    EXPECT_EQ(CurrentGear, 4);
    Fake.failing = false;
    EXPECT_EQ(Tick(Position4), Log{"text ' '"});
    EXPECT_EQ(Tick(Position5), Taps("PgUp", 1));
}

TEST(Spin, RunsAtLeastOneIteration)
{
    const struct {
        int32_t n;
        int32_t iterations;
    } cases[] = {{-2147483647 - 1, 1}, {-1, 1}, {0, 1}, {1, 1}, {2, 2}, {50000, 50000}, {1000000, 1000000}};
    for (const auto &c : cases) {
        Spin(c.n);
        EXPECT_EQ(SpinCounter, c.iterations) << "Spin(" << c.n << ")";
    }
}

}  // namespace
