// The learn rules: a walk through the questions as a table of samples and what each gives.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "config/gate_map.h"
#include "core/learn.h"

namespace {

struct Step {
    const char *held;  // buttons held, as "13,14", or "skip" / "end"
    uint32_t hat;
    LearnAnswer answer;
    int32_t asked;  // the gear asked after the step
    int32_t taken;  // for LEARN_TAKEN: the gear that has the input
};

Sample Held(const char *buttons, uint32_t hat)
{
    Sample s = {};
    s.hat = hat;
    for (const char *p = buttons; *p; p++)
        if (*p >= '0' && *p <= '9' && (p == buttons || p[-1] == ','))
            SetButton(&s, atoi(p), true);
    return s;
}

const uint32_t C = HAT_CENTRED;

TEST(Learn, AsksEachGearAndTakesOnlyNewInputs)
{
    const Step walk[] = {
        {"", C, LEARN_NOTHING, 1, 0},
        {"13", C, LEARN_ANSWERED, 2, 0},
        {"13,14", C, LEARN_ANSWERED, 3, 0},         // a new button while another is held
        {"", C, LEARN_NOTHING, 3, 0},
        {"13", C, LEARN_TAKEN, 3, 1},               // 1st has it: asked again
        {"13", HAT_LEFT + 4500, LEARN_NOTHING, 3, 0},  // a diagonal is no direction
        {"13", HAT_LEFT, LEARN_ANSWERED, 4, 0},
        {"skip", C, LEARN_NOTHING, 5, 0},
        {"", HAT_LEFT, LEARN_NOTHING, 5, 0},        // still left: not new
        {"", C, LEARN_NOTHING, 5, 0},
        {"", HAT_LEFT, LEARN_TAKEN, 5, 3},
        {"16,15", C, LEARN_ANSWERED, 6, 0},         // the lowest new button wins
        {"16,15,40", HAT_FORWARD, LEARN_ANSWERED, 7, 0},  // and beats a hat move
        {"end", C, LEARN_NOTHING, GEAR_NONE, 0},
        {"17", C, LEARN_NOTHING, GEAR_NONE, 0},     // done: nothing more is taken
    };
    Learning l;
    LearnStart(&l, Held("", C));
    for (size_t i = 0; i < sizeof walk / sizeof walk[0]; i++) {
        const Step &s = walk[i];
        int32_t taken = 0;
        LearnAnswer answer = LEARN_NOTHING;
        if (std::string(s.held) == "skip")
            LearnSkip(&l);
        else if (std::string(s.held) == "end")
            LearnEnd(&l);
        else
            answer = LearnSample(&l, Held(s.held, s.hat), &taken);
        EXPECT_EQ(answer, s.answer) << "step " << i;
        EXPECT_EQ(LearnGear(l), s.asked) << "step " << i;
        if (answer == LEARN_TAKEN) {
            EXPECT_EQ(taken, s.taken) << "step " << i;
        }
    }
    EXPECT_TRUE(LearnDone(l));
    char text[200];
    FormatGateMap(l.map, text, sizeof text);
    EXPECT_STREQ(text, "1=13,2=14,3=hat-left,5=15,6=40");
}

TEST(Learn, ReverseIsAskedLastAndAButtonHeldAtTheStartMustBePressedAgain)
{
    Learning l;
    LearnStart(&l, Held("19", C));
    for (int gear = 1; gear <= 7; gear++)
        LearnSkip(&l);
    EXPECT_EQ(LearnGear(l), GEAR_REVERSE);
    EXPECT_STREQ(GearQuestion(LearnGear(l)), "reverse");
    int32_t taken;
    EXPECT_EQ(LearnSample(&l, Held("19", C), &taken), LEARN_NOTHING);
    EXPECT_EQ(LearnSample(&l, Held("", C), &taken), LEARN_NOTHING);
    EXPECT_EQ(LearnSample(&l, Held("19", C), &taken), LEARN_ANSWERED);
    EXPECT_TRUE(LearnDone(l));
    EXPECT_EQ(l.map.count, 1);
    EXPECT_EQ(l.map.entries[0].gear, GEAR_REVERSE);
}

// The optional reset question: only a new button that no gear has answers it.
TEST(Learn, ResetIsANewButtonOfNoGear)
{
    Learning l;
    LearnStart(&l, Held("", C));
    int32_t taken = 0;
    LearnSample(&l, Held("13", C), &taken);
    LearnEnd(&l);
    EXPECT_EQ(LearnReset(&l, Held("13", C), &taken), LEARN_NOTHING);  // still held: not new
    EXPECT_EQ(LearnReset(&l, Held("", C), &taken), LEARN_NOTHING);
    EXPECT_EQ(LearnReset(&l, Held("13", C), &taken), LEARN_TAKEN);
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(LearnReset(&l, Held("13", HAT_LEFT), &taken), LEARN_NO_BUTTON);
    EXPECT_EQ(l.map.resetButton, 0);
    EXPECT_EQ(LearnReset(&l, Held("13,20", HAT_LEFT), &taken), LEARN_ANSWERED);
    char text[200];
    FormatGateMap(l.map, text, sizeof text);
    EXPECT_STREQ(text, "1=13,reset=20");
}

}  // namespace
