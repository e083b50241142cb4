// Gear decoding on the legacy plates and on user-defined maps, the cap and the shift decision.
#include <gtest/gtest.h>

#include <initializer_list>

#include "config/gate_map.h"
#include "core/gate.h"

namespace {

GateMap UserMap(const char *text)
{
    GateMap map;
    char error[200];
    EXPECT_TRUE(ParseGateMap(text, &map, error, sizeof error)) << text << ": " << error;
    return map;
}

const GateMap SevenAndReverse = UserMap("1=13,2=14,3=15,4=16,5=17,6=18,7=20,R=19,reset=11");
const GateMap WithHat = UserMap("1=hat-up,2=hat-down,3=3,R=hat-left");

struct GateCase {
    const char *name;
    const GateMap *map;
    std::initializer_list<int> buttons;
    uint32_t hat;
    int32_t gear;
    bool reset;
};

const GateCase GateCases[] = {
    // The legacy plates: each position is one button held alone, or one hat angle.
    {"StdButton6", &StandardPlate, {6}, HAT_CENTRED, 1, false},
    {"StdButton7", &StandardPlate, {7}, HAT_CENTRED, 2, false},
    {"StdButton1", &StandardPlate, {1}, HAT_CENTRED, 3, false},
    {"StdButton2", &StandardPlate, {2}, HAT_CENTRED, 4, false},
    {"StdHatForward", &StandardPlate, {}, HAT_FORWARD, 5, false},
    {"StdHatLeft", &StandardPlate, {}, HAT_LEFT, 6, false},
    {"StdHatBackward", &StandardPlate, {}, HAT_BACKWARD, 7, false},
    {"StdHatRightIsReverse", &StandardPlate, {}, HAT_RIGHT, -1, false},
    {"StdResetAlone", &StandardPlate, {11}, HAT_CENTRED, 0, true},
    {"NascarButton6IsReverse", &NascarPlate, {6}, HAT_CENTRED, -1, false},
    {"NascarButton7MeansNothing", &NascarPlate, {7}, HAT_CENTRED, 0, false},
    {"NascarButton1", &NascarPlate, {1}, HAT_CENTRED, 1, false},
    {"NascarButton2", &NascarPlate, {2}, HAT_CENTRED, 2, false},
    {"NascarHatForward", &NascarPlate, {}, HAT_FORWARD, 3, false},
    {"NascarHatLeft", &NascarPlate, {}, HAT_LEFT, 4, false},
    {"NascarHatBackward", &NascarPlate, {}, HAT_BACKWARD, 5, false},
    {"NascarHatRight", &NascarPlate, {}, HAT_RIGHT, 6, false},
    {"TwoButtonsMatchNothing", &StandardPlate, {1, 6}, HAT_CENTRED, 0, false},
    {"TwoButtonsThenHat", &StandardPlate, {1, 6}, HAT_LEFT, 6, false},
    {"OtherButtonMatchesNothing", &StandardPlate, {3}, HAT_CENTRED, 0, false},
    {"DiagonalHatMatchesNothing", &StandardPlate, {}, 4500, 0, false},
    {"HatOffTheFourAnglesMatchesNothing", &StandardPlate, {}, 1, 0, false},
    {"HatBeatsButton", &StandardPlate, {6}, HAT_FORWARD, 5, false},
    {"ResetWithHatResetsAndHatWins", &StandardPlate, {11}, HAT_FORWARD, 5, true},
    {"ResetWithButtonIsNoReset", &StandardPlate, {2, 11}, HAT_CENTRED, 0, false},
    {"ResetWithButtonAndHat", &NascarPlate, {2, 11}, HAT_BACKWARD, 5, false},
    {"ButtonAbove32DoesNotSpoilHeldAlone", &StandardPlate, {1, 40}, HAT_CENTRED, 3, false},
    {"Button32CountsOnThePlates", &StandardPlate, {1, 32}, HAT_CENTRED, 0, false},
    // User-defined maps: only the map's inputs count.
    {"UserGear", &SevenAndReverse, {15}, HAT_CENTRED, 3, false},
    {"UserForeignButtonsIgnored", &SevenAndReverse, {1, 2, 6, 15, 25, 300}, HAT_FORWARD, 3, false},
    {"UserResetWithForeignButton", &SevenAndReverse, {11, 5}, HAT_CENTRED, 0, true},
    {"UserHatGear", &WithHat, {7}, HAT_BACKWARD, 2, false},
    {"UserHatAndButtonAreTwoInputs", &WithHat, {3}, HAT_FORWARD, 0, false},
    {"UserHatDiagonalIsNoInput", &WithHat, {}, 31500, 0, false},
    {"UserNoResetButtonNeverResets", &WithHat, {11}, HAT_LEFT, -1, false},
};

void PrintTo(const GateCase &c, std::ostream *os)
{
    *os << c.name;
}

class GateTable : public testing::TestWithParam<GateCase> {};

TEST_P(GateTable, DecodesGearAndReset)
{
    const GateCase &c = GetParam();
    Sample sample = {};
    for (int button : c.buttons)
        SetButton(&sample, button, true);
    sample.hat = c.hat;
    Decoded d = DecodeGate(*c.map, sample);
    EXPECT_EQ(d.gear, c.gear);
    EXPECT_EQ(d.reset, c.reset);
}

INSTANTIATE_TEST_SUITE_P(Maps, GateTable, testing::ValuesIn(GateCases),
                         [](const testing::TestParamInfo<GateCase> &info) { return info.param.name; });

TEST(Sample, ButtonsBeyondTheFirstWordAndTheLast)
{
    Sample s = {};
    SetButton(&s, MAX_BUTTONS, true);
    SetButton(&s, 33, true);
    SetButton(&s, MAX_BUTTONS + 1, true);  // ignored, not written past the end
    SetButton(&s, 0, true);
    EXPECT_TRUE(ButtonHeld(s, MAX_BUTTONS));
    EXPECT_TRUE(ButtonHeld(s, 33));
    EXPECT_FALSE(ButtonHeld(s, 32));
    EXPECT_FALSE(ButtonHeld(s, 1));
    EXPECT_EQ(s.buttons[0], 0u);
    SetButton(&s, 33, false);
    EXPECT_FALSE(ButtonHeld(s, 33));
}

TEST(GearCap, CapsForwardGearsOnly)
{
    const struct {
        int32_t gear, max, capped;
    } cases[] = {{7, 6, 6}, {5, 6, 5}, {7, 7, 7}, {-1, 4, -1}};
    for (const auto &c : cases)
        EXPECT_EQ(CapGear(c.gear, c.max), c.capped) << c.gear << " capped at " << c.max;
}

TEST(ShiftDecision, TapsAreTheDifferenceAndNeutralSendsNothing)
{
    const struct {
        int32_t assumed, engaged, taps;
    } cases[] = {
        {2, 4, 2}, {1, -1, -2}, {-1, 7, 8},
        {5, 0, 0},  // neutral on the lever: nothing
        {-2, 7, 0}, // beyond 8 gears: nothing
    };
    for (const auto &c : cases)
        EXPECT_EQ(TapsBetween(c.assumed, c.engaged), c.taps) << c.assumed << " -> " << c.engaged;
}

}  // namespace
