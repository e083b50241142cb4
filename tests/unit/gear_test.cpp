// Gear decoding: the gate table on both plates, the cap, the reset and failed polls.
#include <gtest/gtest.h>

#include "core/gear.h"
#include "core/state.h"
#include "fake_platform.h"
#include "resources/resource.h"

namespace {

struct GateCase {
    const char *name;
    int plate;  // radio id
    unsigned buttons;
    unsigned pov;
    int32_t gear;
    bool resets;
};

// Max gear 7 throughout, so the cap leaves every forward gear alone.
const GateCase GateCases[] = {
    {"StdButton6", IDC_PLATE_STANDARD, 0x20, POV_CENTERED, 1, false},
    {"StdButton7", IDC_PLATE_STANDARD, 0x40, POV_CENTERED, 2, false},
    {"StdButton1", IDC_PLATE_STANDARD, 0x01, POV_CENTERED, 3, false},
    {"StdButton2", IDC_PLATE_STANDARD, 0x02, POV_CENTERED, 4, false},
    {"StdPovForward", IDC_PLATE_STANDARD, 0, 0, 5, false},
    {"StdPovLeft", IDC_PLATE_STANDARD, 0, 27000, 6, false},
    {"StdPovBackward", IDC_PLATE_STANDARD, 0, 18000, 7, false},
    {"StdPovRightIsReverse", IDC_PLATE_STANDARD, 0, 9000, -1, false},
    {"StdResetAlone", IDC_PLATE_STANDARD, 0x400, POV_CENTERED, 0, true},
    {"NascarButton6IsReverse", IDC_PLATE_NASCAR, 0x20, POV_CENTERED, -1, false},
    {"NascarButton7MeansNothing", IDC_PLATE_NASCAR, 0x40, POV_CENTERED, 0, false},
    {"NascarButton1", IDC_PLATE_NASCAR, 0x01, POV_CENTERED, 1, false},
    {"NascarButton2", IDC_PLATE_NASCAR, 0x02, POV_CENTERED, 2, false},
    {"NascarPovForward", IDC_PLATE_NASCAR, 0, 0, 3, false},
    {"NascarPovLeft", IDC_PLATE_NASCAR, 0, 27000, 4, false},
    {"NascarPovBackward", IDC_PLATE_NASCAR, 0, 18000, 5, false},
    {"NascarPovRight", IDC_PLATE_NASCAR, 0, 9000, 6, false},
    {"NascarResetAlone", IDC_PLATE_NASCAR, 0x400, POV_CENTERED, 0, true},
    // Several buttons match no row; the hat still can.
    {"TwoButtonsMatchNothing", IDC_PLATE_STANDARD, 0x21, POV_CENTERED, 0, false},
    {"TwoButtonsThenHat", IDC_PLATE_STANDARD, 0x21, 27000, 6, false},
    {"OtherButtonMatchesNothing", IDC_PLATE_STANDARD, 0x04, POV_CENTERED, 0, false},
    {"DiagonalHatMatchesNothing", IDC_PLATE_STANDARD, 0, 4500, 0, false},
    {"HatNearForwardMatchesNothing", IDC_PLATE_STANDARD, 0, 1, 0, false},
    {"HatNearRightMatchesNothing", IDC_PLATE_NASCAR, 0, 9001, 0, false},
    {"HatBeatsButton", IDC_PLATE_STANDARD, 0x20, 0, 5, false},
    {"NascarHatBeatsButton", IDC_PLATE_NASCAR, 0x02, 9000, 6, false},
    {"ResetWithHatResetsAndHatWins", IDC_PLATE_STANDARD, 0x400, 0, 5, true},
    {"ResetWithButtonIsNoReset", IDC_PLATE_STANDARD, 0x402, POV_CENTERED, 0, false},
    {"ResetWithButtonAndHat", IDC_PLATE_NASCAR, 0x402, 18000, 5, false},
};

void PrintTo(const GateCase &c, std::ostream *os)
{
    *os << c.name;
}

class GateTable : public testing::TestWithParam<GateCase> {};

TEST_P(GateTable, DecodesPositionAndReset)
{
    const GateCase &c = GetParam();
    ResetFake();
    ClickRadio(c.plate);
    ClickRadio(IDC_MAXGEAR_7);
    Fake.buttons = c.buttons;
    Fake.pov = c.pov;
    CurrentGear = 3;

    EXPECT_EQ(ReadGear(FakeDialog), c.gear);
    EXPECT_EQ(CurrentGear, c.resets ? 0 : 3);
    EXPECT_TRUE(TakeLog().empty());
}

INSTANTIATE_TEST_SUITE_P(BothPlates, GateTable, testing::ValuesIn(GateCases),
                         [](const testing::TestParamInfo<GateCase> &info) { return info.param.name; });

struct CapCase {
    int maxRadio;
    unsigned pov;
    int32_t gear;
};

TEST(GearCap, CapsForwardGearsOnlyAtTheSelectedMaximum)
{
    const CapCase cases[] = {
        {IDC_MAXGEAR_6, 18000, 6}, {IDC_MAXGEAR_4, 18000, 4}, {IDC_MAXGEAR_5, 18000, 5},
        {IDC_MAXGEAR_7, 18000, 7}, {IDC_MAXGEAR_4, 0, 4},     {IDC_MAXGEAR_6, 0, 5},
        {IDC_MAXGEAR_4, 9000, -1}, {IDC_MAXGEAR_4, POV_CENTERED, 0},
    };
    for (const CapCase &c : cases) {
        ResetFake();
        ClickRadio(c.maxRadio);
        Fake.pov = c.pov;
        EXPECT_EQ(ReadGear(FakeDialog), c.gear) << "max radio " << c.maxRadio << ", hat " << c.pov;
    }
}

TEST(GearCap, NoMaxRadioCheckedMeansSevenAndFirstCheckedWins)
{
    ResetFake();
    SetRadio(IDC_MAXGEAR_6, 0);
    EXPECT_EQ(GetMaxGear(FakeDialog), 7);
    SetRadio(IDC_MAXGEAR_5, 2);  // indeterminate is not checked
    EXPECT_EQ(GetMaxGear(FakeDialog), 7);
    SetRadio(IDC_MAXGEAR_7, 1);
    SetRadio(IDC_MAXGEAR_5, 1);
    EXPECT_EQ(GetMaxGear(FakeDialog), 5);
}

TEST(GearPlate, NeitherPlateCheckedGivesNoGearAndNoReset)
{
    for (unsigned buttons : {0x20u, 0x400u, 0x02u}) {
        ResetFake();
        SetRadio(IDC_PLATE_STANDARD, 0);
        SetRadio(IDC_PLATE_NASCAR, 2);
        Fake.buttons = buttons;
        Fake.pov = 18000;
        CurrentGear = 4;
        EXPECT_EQ(ReadGear(FakeDialog), 0);
        EXPECT_EQ(CurrentGear, 4);
    }
}

TEST(GearPlate, StandardIsTestedFirst)
{
    ResetFake();
    SetRadio(IDC_PLATE_NASCAR, 1);  // both checked: only a broken dialog does this
    Fake.buttons = 0x20;
    EXPECT_EQ(ReadGear(FakeDialog), 1);
}

TEST(FailedPoll, NeverDecodesAndNeverResets)
{
    ResetFake();
    CurrentGear = 4;
    Fake.failing = true;  // the fake writes button 6 + hat backward into the record
    EXPECT_EQ(ReadGear(FakeDialog), 0);
    EXPECT_EQ(CurrentGear, 4);
}

TEST(FailedPoll, DebugWindowReportsSilenceOnceAndRecoversOnce)
{
    ResetFake();
    Fake.failing = true;
    ReadGear(FakeDialog);
    ReadGear(FakeDialog);
    ReadGear(FakeDialog);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"text 'Joystick not responding'"});

    Fake.failing = false;
    ReadGear(FakeDialog);
    ReadGear(FakeDialog);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"text ' '"});

    Fake.failing = true;
    ReadGear(FakeDialog);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"text 'Joystick not responding'"});
}

}  // namespace
