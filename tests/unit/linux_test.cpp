// gearvane for Linux: button numbering, the hat, and the command line with the config file.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

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

// Runs LoadSettings in a fresh $XDG_CONFIG_HOME, with `config` as the default config file
// when it is not null.
struct Load {
    int status;
    Settings settings;
    std::string error, out;
};

class Options : public testing::Test {
protected:
    std::string home;
    void SetUp() override
    {
        char dir[] = "/tmp/gearvane-options-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        home = dir;
        setenv("XDG_CONFIG_HOME", dir, 1);
    }
    void TearDown() override { system(("rm -rf " + home).c_str()); }
    std::string Write(const std::string &name, const std::string &text)
    {
        system(("mkdir -p " + home + "/gearvane").c_str());
        std::string path = home + "/" + name;
        FILE *f = fopen(path.c_str(), "w");
        fputs(text.c_str(), f);
        fclose(f);
        return path;
    }
    Load Run(std::vector<std::string> args)
    {
        Load l;
        l.status = LoadSettings(args, &l.settings, &l.error, &l.out);
        return l;
    }
};

TEST_F(Options, DefaultsWithoutAConfigFile)
{
    Load l = Run({});
    ASSERT_EQ(l.status, -1) << l.error;
    EXPECT_EQ(l.settings.mode, MODE_RUN);
    EXPECT_EQ(l.settings.mapName, "standard");
    EXPECT_EQ(l.settings.maxGear, 6);
    EXPECT_EQ(l.settings.upCode, KEY_PAGEUP);
    EXPECT_EQ(l.settings.downCode, KEY_PAGEDOWN);
    EXPECT_EQ(l.settings.holdMs, 40);
    EXPECT_EQ(l.settings.gapMs, 40);
    EXPECT_EQ(l.settings.config, "");
}

TEST_F(Options, CommandLineWinsOverTheConfigFile)
{
    Write("gearvane/gearvane.conf", "# mine\nmax-gear = 5\nhold-ms = 60\nup-key = KEY_E\ngate = \"1=13,2=14,R=19\"\n");
    Load l = Run({"--hold-ms", "20", "--plate", "nascar"});
    ASSERT_EQ(l.status, -1) << l.error;
    EXPECT_EQ(l.settings.maxGear, 5);
    EXPECT_EQ(l.settings.holdMs, 20);
    EXPECT_EQ(l.settings.upCode, KEY_E);
    EXPECT_EQ(l.settings.mapName, "nascar");  // the file's gate gives way to the command line's plate
    EXPECT_TRUE(l.settings.map.exact);

    l = Run({});
    ASSERT_EQ(l.status, -1) << l.error;
    EXPECT_EQ(l.settings.mapName, "1=13,2=14,R=19");
    EXPECT_FALSE(l.settings.map.exact);
    EXPECT_EQ(l.settings.config, home + "/gearvane/gearvane.conf");
}

TEST_F(Options, ConfigFileErrorsAreUsageErrorsThatNameTheFile)
{
    const char *const files[] = {
        "gate = \"1=13,1=14\"\n",
        "simulate = true\n",
        "max_gears = 5\n",
    };
    for (const char *text : files) {
        std::string path = Write("bad.conf", text);
        Load l = Run({"--config", path});
        EXPECT_EQ(l.status, EXIT_USAGE) << text;
        EXPECT_NE(l.error.find(path), std::string::npos) << text << ": " << l.error;
    }
}

TEST_F(Options, HelpAndVersionPrintAndEndWell)
{
    Load l = Run({"--version"});
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(l.out.rfind("gearvane ", 0), 0u);
    l = Run({"--help"});
    EXPECT_EQ(l.status, 0);
    EXPECT_NE(l.out.find("--gate"), std::string::npos);
}

TEST_F(Options, LearnMayNameAConfigFileThatDoesNotExistYet)
{
    Load l = Run({"--learn", "--config", home + "/new.conf"});
    ASSERT_EQ(l.status, -1) << l.error;
    EXPECT_EQ(l.settings.mode, MODE_LEARN);
    EXPECT_EQ(l.settings.config, home + "/new.conf");
}

}  // namespace
