// gearvane for Linux: button numbering, the hat, and the keys that may be sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/linux/lever.h"
#include "app/linux/lever_codes.h"
#include "app/linux/options.h"

namespace {

TEST(ButtonNumbers, JoystickCodesFirstThenTheOnesBelow)
{
    // A DIY box: two low key codes, the trigger and a "trigger happy" button, no thumb.
    const std::set<int> codes = {KEY_1, KEY_A, BTN_TRIGGER, BTN_BASE, BTN_TRIGGER_HAPPY1, KEY_MAX};
    ButtonNumbers n;
    NumberButtons([&](int code) { return codes.count(code) > 0; }, &n);
    EXPECT_EQ(n.count, 6);
    EXPECT_EQ(n.of[BTN_TRIGGER], 1);
    EXPECT_EQ(n.of[BTN_BASE], 2);
    EXPECT_EQ(n.of[BTN_TRIGGER_HAPPY1], 3);
    EXPECT_EQ(n.of[KEY_MAX], 4);
    EXPECT_EQ(n.of[KEY_1], 5);
    EXPECT_EQ(n.of[KEY_A], 6);
    EXPECT_EQ(n.of[BTN_THUMB], 0);
}

TEST(ButtonNumbers, LeverButtonsAreJoystickGamepadAndTriggerHappyCodes)
{
    for (int code : {BTN_TRIGGER, BTN_THUMB, BTN_DEAD, BTN_SOUTH, BTN_THUMBR, BTN_TRIGGER_HAPPY1, BTN_TRIGGER_HAPPY40})
        EXPECT_TRUE(IsLeverButton(code)) << code;
    for (int code : {KEY_PAGEUP, BTN_LEFT, BTN_DIGI, BTN_TOOL_PEN, KEY_MAX, BTN_TRIGGER_HAPPY40 + 1})
        EXPECT_FALSE(IsLeverButton(code)) << code;
}

// Which device --device names: with a wheel, a shifter and a keyboard plugged in, a wrong
// answer drives the wrong device or none.
TEST(Device, NamedByAnyPartOfItsNameElseTheFirstJoystick)
{
    const struct {
        const char *name;
        std::vector<int> keys;
        bool hat;
        const char *device;
        bool named;
    } cases[] = {
        {"Scripted Lever", {BTN_TRIGGER}, false, "", true},
        {"Hat Only", {}, true, "", true},
        {"AT Keyboard", {KEY_A, KEY_PAGEUP}, false, "", false},  // a keyboard is no lever unasked
        {"Scripted Lever", {BTN_TRIGGER}, false, "lever", true},
        {"Scripted Lever", {BTN_TRIGGER}, false, "SCRIPTED", true},
        {"Other Stick", {BTN_TRIGGER}, true, "lever", false},
        {"DIY Shift Box", {KEY_1, KEY_2}, false, "shift box", true},  // named, a keyboard-like box counts
        {"Shift Box LEDs", {}, false, "shift box", false},            // no key, no hat: nothing to read
        {"gearvane virtual shifter", {BTN_TRIGGER, BTN_THUMB}, false, "", false},  // an output, ours
        {"gearvane virtual shifter", {BTN_TRIGGER, BTN_THUMB}, false, "shifter", false},
    };
    for (const auto &c : cases) {
        Lever lever;
        lever.name = c.name;
        lever.keys = c.keys;
        lever.hasHat = c.hat;
        NumberButtons([&](int code) { return std::count(c.keys.begin(), c.keys.end(), code) > 0; }, &lever.numbers);
        EXPECT_EQ(IsNamedLever(lever, c.device), c.named) << c.name << " for '" << c.device << "'";
    }
}

TEST(Hat, SignsGiveTheAngleClockwiseFromUp)
{
    const struct {
        int x, y;
        uint32_t angle;
    } cases[] = {{0, 0, 65535},   {0, -1, 0},      {1, 0, 9000},     {0, 1, 18000},   {-1, 0, 27000},
                 {1, -1, 4500},   {1, 1, 13500},   {-1, 1, 22500},   {-1, -1, 31500}, {0, -127, 0},
                 {255, 0, 9000}};
    for (const auto &c : cases)
        EXPECT_EQ(HatAngle(c.x, c.y), c.angle) << c.x << "," << c.y;
}

TEST(Capabilities, SysfsWordsComeMostSignificantFirst)
{
    const struct {
        const char *bitmap;
        int bit, wordBits;
        bool set;
    } cases[] = {{"100000000 0 0 0 0\n", BTN_TRIGGER, 64, true}, {"100000000 0 0 0 0", BTN_TRIGGER + 1, 64, false},
                 {"100000000 0 0 0 0", 32, 64, false},          {"1 0 0 0 0 0 0 0 0 0", BTN_TRIGGER, 32, true},
                 {"30000", ABS_HAT0Y, 64, true},                {"30000", 64 + ABS_HAT0Y, 64, false},
                 {"", 0, 64, false}};
    for (const auto &c : cases)
        EXPECT_EQ(CapabilityBit(c.bitmap, c.bit, c.wordBits), c.set) << c.bitmap << " bit " << c.bit;
}

TEST(Keys, OnlyKeyboardKeysThatTheDesktopDoesNotActOn)
{
    const struct {
        const char *name;
        int code;
    } cases[] = {{"KEY_PAGEUP", KEY_PAGEUP}, {"KEY_E", KEY_E}, {"KEY_ESC", KEY_ESC}, {"KEY_F24", KEY_F24},
                 {"KEY_RESERVED", -1},       {"BTN_A", -1},     {"BTN_MISC", -1},    {"KEY_MAX", -1},
                 {"KEY_POWER", -1},          {"KEY_SLEEP", -1}, {"KEY_COFFEE", -1},  {"key_e", -1},
                 {"", -1}};
    for (const auto &c : cases)
        EXPECT_EQ(KeyboardKeyCode(c.name), c.code) << c.name;
}

}  // namespace
