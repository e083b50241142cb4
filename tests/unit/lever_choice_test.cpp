// Which game controller gearvane-tray drives: the one wanted by instance, then by name, else
// the only one that can be a lever; never a guess among several.
#include <gtest/gtest.h>

#include "app/tray/lever_choice.h"

namespace {

InstanceId Id(unsigned char n)
{
    InstanceId id = {};
    id.bytes[0] = n;
    return id;
}

const Controller Lever = {Id(1), L"Shifter SQ", true}, Lever2 = {Id(2), L"Shifter SQ", true},
                 Pad = {Id(3), L"Xbox Pad", true}, Pedals = {Id(4), L"Pedals", false};

struct ChoiceCase {
    const char *name;
    std::vector<Controller> attached;
    LeverWanted wanted;
    int chosen;
};

const ChoiceCase Cases[] = {
    {"NoneAttachedWaits", {}, {}, CHOICE_NONE},
    {"TheOnlyOneIsTaken", {Lever}, {}, 0},
    {"PedalsCannotBeALever", {Pedals, Lever}, {}, 1},
    {"TwoCandidatesAsk", {Pad, Lever}, {}, CHOICE_ASK},
    {"NameInAnyCase", {Pad, Lever}, {L"shifter", false, {}}, 1},
    {"InstanceTellsTwinsApart", {Lever, Lever2}, {L"Shifter SQ", true, Id(2)}, 1},
    {"MovedToAnotherPortFoundByName", {Pad, Lever2}, {L"Shifter SQ", true, Id(1)}, 1},
    {"WantedAndAbsentWaitsForIt", {Pad}, {L"Shifter SQ", true, Id(1)}, CHOICE_NONE},
    {"NamedWithoutButtonsIsTaken", {Pedals}, {L"pedals", false, {}}, 0},
};

void PrintTo(const ChoiceCase &c, std::ostream *os)
{
    *os << c.name;
}

class LeverChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(LeverChoice, TakesTheWantedOrTheOnlyOne)
{
    EXPECT_EQ(ChooseLever(GetParam().attached, GetParam().wanted), GetParam().chosen);
}

INSTANTIATE_TEST_SUITE_P(Cases, LeverChoice, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<ChoiceCase> &info) { return info.param.name; });

}  // namespace
