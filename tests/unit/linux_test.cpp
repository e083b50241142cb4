// gearvane for Linux: button numbering, the hat, the keys that may be sent, and what the
// telemetry socket makes of the packets that come.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "app/linux/lever_search.h"
#include "app/linux/lever_codes.h"
#include "app/linux/options.h"
#include "app/linux/telemetry_socket.h"

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
// answer drives the wrong device or none. A whole name beats a part of one, and gearvane's
// own devices, and another gearvane's, are never taken, even when asked for.
TEST(Device, MatchedByWholeNameThenPartElseTheFirstJoystickNeverOurOwn)
{
    const DeviceTraits lever = {"Scripted Lever", true, true, false}, hatOnly = {"Hat Only", false, false, true},
                       keyboard = {"AT Keyboard", false, true, false}, leds = {"Shift Box LEDs", false, false, false},
                       shifter = {"Shifter", true, true, false}, shifterPro = {"Shifter Pro", true, true, true},
                       box = {"DIY Shift Box", false, true, false},
                       ownKeyboard = {"gearvane virtual keyboard", false, true, false},
                       ownShifter = {"gearvane virtual shifter", true, true, true};
    const struct {
        const DeviceTraits &device;
        const char *wanted;
        Match match;
    } cases[] = {
        {lever, "", MATCH_NAMED},       {hatOnly, "", MATCH_NAMED},
        {keyboard, "", MATCH_USABLE},  // a keyboard is no lever unasked
        {lever, "lever", MATCH_NAMED},  {lever, "SCRIPTED", MATCH_NAMED},
        {lever, "scripted lever", MATCH_EXACT},
        {shifter, "shifter", MATCH_EXACT},  {shifterPro, "shifter", MATCH_NAMED},
        {keyboard, "lever", MATCH_USABLE},
        {box, "shift box", MATCH_NAMED},  // named, a keyboard-like box counts
        {box, "/dev/input/by-id/usb-box-event-kbd", MATCH_EXACT},
        {leds, "shift box", MATCH_NONE},  // no key, no hat: nothing to read
        {leds, "", MATCH_NONE},
        {ownKeyboard, "", MATCH_NONE},  {ownKeyboard, "gearvane virtual keyboard", MATCH_NONE},
        {ownKeyboard, "/dev/input/event7", MATCH_NONE},
        {ownShifter, "", MATCH_NONE},   {ownShifter, "shifter", MATCH_NONE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(MatchDevice(c.device, c.wanted), c.match) << c.device.name << " for '" << c.wanted << "'";
}

// What --learn records: two shifters of one model are told apart by their by-id links, so
// the link of the node learned is kept; a link given on the command line stays as given.
TEST(Device, LearnedAsTheLinkGivenElseItsByIdLinkElseItsName)
{
    char folder[] = "/tmp/gearvane-by-id-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder, byId = dir + "/by-id";
    ASSERT_EQ(mkdir(byId.c_str(), 0700), 0);
    for (const char *node : {"/event5", "/event6", "/event7"})
        close(open((dir + node).c_str(), O_CREAT | O_WRONLY, 0600));
    ASSERT_EQ(symlink("../event5", (byId + "/usb-Shifter_A1-event-joystick").c_str()), 0);
    ASSERT_EQ(symlink("../event6", (byId + "/usb-Shifter_B2-event-joystick").c_str()), 0);
    const std::string byPath = "/dev/input/by-path/pci-0000:00:14.0-usb-0:2:1.0-event-joystick";
    const struct {
        std::string node, wanted, identifier;
    } cases[] = {
        {dir + "/event6", "shifter", byId + "/usb-Shifter_B2-event-joystick"},
        {dir + "/event5", "", byId + "/usb-Shifter_A1-event-joystick"},
        {dir + "/event6", "/dev/input/event6", byId + "/usb-Shifter_B2-event-joystick"},  // a number may change
        {dir + "/event7", "shifter", "Shifter"},  // no link: its name
        {dir + "/event6", byPath, byPath},
    };
    for (const auto &c : cases) {
        Lever lever;
        lever.path = c.node;
        lever.name = "Shifter";
        EXPECT_EQ(LeverIdentifier(lever, c.wanted, byId.c_str()), c.identifier) << c.node << " for " << c.wanted;
    }
    std::filesystem::remove_all(dir);
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

TEST(TelemetrySocket, NewestGearEachFormatNamedOnceDropsAtMostOnceAMinute)
{
    TelemetrySocket s;
    std::string error;
    ASSERT_TRUE(s.Open(0x7f000001, 0, &error)) << error;
    sockaddr_in to;
    socklen_t length = sizeof to;
    ASSERT_EQ(getsockname(s.Socket(), reinterpret_cast<sockaddr *>(&to), &length), 0);
    int out = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    auto send = [&](size_t size, uint8_t gear = 0) {
        std::vector<uint8_t> p(size);
        if (size == 232 || size == 324) {
            p[0] = 1;  // Forza, the race on
            p[size - 5] = gear;
        }
        ASSERT_EQ(sendto(out, p.data(), size, 0, reinterpret_cast<sockaddr *>(&to), sizeof to), (ssize_t)size);
    };
    const int64_t minute = 60000000;
    TelemetryNews n;

    for (size_t size : {324, 12, 324, 232})
        send(size, size == 324 ? 3 : 0);
    send(324, 4);
    s.Drain(1000, &n);
    EXPECT_TRUE(n.hasGear);
    EXPECT_EQ(n.gear, 4);
    EXPECT_STREQ(n.lines, "telemetry: Forza Horizon 4/5\n"
                          "telemetry: Forza's Sled format has no gear: choose Dash in the game's Data Out settings\n"
                          "telemetry: dropped 1 packet of no known format (length 12)\n");

    // Within the minute the drops wait for the timer; a packet too long for the buffer counts whole.
    for (size_t size : {12, 3000, 232})
        send(size);
    s.Drain(1000 + minute - 1, &n);
    EXPECT_FALSE(n.hasGear);
    EXPECT_STREQ(n.lines, "");
    pollfd timer = {s.TimerFd(), POLLIN, 0};
    EXPECT_EQ(poll(&timer, 1, 1000), 1);
    s.OnTimer(1000 + minute, &n);
    EXPECT_STREQ(n.lines, "telemetry: dropped 2 packets of no known format (lengths 12, 3000)\n");

    send(5);
    s.Drain(1000 + minute + 1, &n);
    EXPECT_STREQ(n.lines, "");
    s.Flush(2000 + minute, &n);
    EXPECT_STREQ(n.lines, "telemetry: dropped 1 packet of no known format (length 5)\n");
    s.Flush(2000 + minute, &n);
    EXPECT_STREQ(n.lines, "");
    close(out);
}

}  // namespace
