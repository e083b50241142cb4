// The shared settings model: the config file's text and its errors, the checks of each
// value, the join of command line and file, and the rewrite that --learn and the tray use.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/command_line.h"
#include "config/settings.h"

namespace {

// Stands in for a front end's key table.
int Keys(const std::string &name)
{
    return name == "KEY_PAGEUP" ? 104 : name == "KEY_PAGEDOWN" ? 109 : name == "KEY_E" ? 18 : -1;
}

struct ReadCase {
    const char *name;
    std::string text;
    std::string values;  // key=value;... when it reads, or a part of the error
    bool reads;
};

const ReadCase ReadCases[] = {
    {"CommentsAndBlankLines", "# mine\n; also\n\n  max-gear = 5   # my car\nquiet=yes;no comment\n",
     "max-gear=5;quiet=yes;no comment;", true},
    {"QuotesKeepBlanksAndCommentSigns", "device = \"  My #1 \\\"Lever\\\" \\\\ \" ; note\n",
     "device=  My #1 \"Lever\" \\ ;", true},
    {"UnquotedGateAsLearnPrintsIt", "gate = 1=13,2=14,R=hat-left\n", "gate=1=13,2=14,R=hat-left;", true},
    {"WindowsNotepadFile", "\xEF\xBB\xBFmax-gear = 5\r\nplate = nascar\r\n", "max-gear=5;plate=nascar;", true},
    {"NoFinalLineEnd", "gap-ms = 0", "gap-ms=0;", true},
    {"EmptyValue", "device =\n", "device=;", true},
    {"UnknownKeyListsTheKnownOnes", "\nmaxgear = 5\n", "f.conf:2: 'maxgear' is not a setting; the settings are device, grab",
     false},
    {"CommandLineOnlyOption", "simulate = true\n", "f.conf:1: 'simulate' is not a setting", false},
    {"Section", "[gearvane]\n", "f.conf:1: '[gearvane]': the config file has no sections", false},
    {"NoEquals", "quiet\n", "f.conf:1: 'quiet' is not of the form key = value", false},
    {"UnclosedQuote", "device = \"Lever\n", "f.conf:1: device: the closing quote is missing", false},
    {"TextAfterQuote", "device = \"Lever\" 2\n", "f.conf:1: device: '2' follows the closing quote", false},
    {"KeyTwice", "hold-ms = 5\nhold-ms = 6\n", "f.conf:2: hold-ms is set on line 1 already", false},
    {"BinaryFile", std::string("gap-ms = 1\0\x01", 12), "f.conf:1: the line holds a control character", false},
};

void PrintTo(const ReadCase &c, std::ostream *os)
{
    *os << c.name;
}

class ConfigText : public testing::TestWithParam<ReadCase> {};

TEST_P(ConfigText, ReadsValuesOrSaysWhereItIsWrong)
{
    const ReadCase &c = GetParam();
    std::vector<SettingValue> values;
    std::string error;
    ASSERT_EQ(ReadConfigText(c.text, "f.conf", &values, &error), c.reads) << error;
    if (!c.reads) {
        EXPECT_EQ(error.find(c.values), 0u) << error;
        return;
    }
    std::string got;
    for (const SettingValue &v : values) {
        got += v.key + "=" + v.value + ";";
        EXPECT_EQ(v.where.rfind("f.conf:", 0), 0u);
    }
    EXPECT_EQ(got, c.values);
}

INSTANTIATE_TEST_SUITE_P(Files, ConfigText, testing::ValuesIn(ReadCases),
                         [](const testing::TestParamInfo<ReadCase> &info) { return info.param.name; });

struct JoinCase {
    const char *name;
    std::vector<SettingValue> cli, file;
    std::string result;  // the joined settings as Describe writes them, or a part of the error
};

std::string Describe(const Settings &s)
{
    return s.device + "|" + (s.grab ? "grab" : "") + "|" + s.mapName + "|" + std::to_string(s.maxGear) + "|" +
           s.upKey + "=" + std::to_string(s.upCode) + "|" + s.downKey + "=" + std::to_string(s.downCode) + "|" +
           std::to_string(s.holdMs) + "|" + std::to_string(s.gapMs) + "|" + (s.quiet ? "quiet" : "") + "|" +
           s.telemetryAddress + ":" + std::to_string(s.telemetryPort) + "=" + std::to_string(s.telemetryIp) + "|w" +
           std::to_string(TimingOf(s, 2).wait) + "f" + std::to_string(TimingOf(s, 2).fresh) + "|" +
           (s.output == OUTPUT_SHIFTER ? "shifter" : "keyboard") + "|vjoy" + std::to_string(s.vjoyDevice);
}

SettingValue Cli(const char *key, const char *value)
{
    return {key, value, std::string("--") + key};
}

SettingValue File(const char *key, const char *value)
{
    return {key, value, std::string("f.conf:3: ") + key};
}

const JoinCase JoinCases[] = {
    {"Defaults", {}, {}, "||standard|6|KEY_PAGEUP=104|KEY_PAGEDOWN=109|40|40|"},
    {"FileValues",
     {},
     {File("device", "Shifter"), File("grab", "on"), File("gate", "1=13,R=19"), File("max-gear", "07"),
      File("up-key", "KEY_E"), File("hold-ms", "1"), File("gap-ms", "0"), File("quiet", "TRUE")},
     "Shifter|grab|1=13,R=19|7|KEY_E=18|KEY_PAGEDOWN=109|1|0|quiet"},
    {"CommandLineWins",
     {Cli("max-gear", "4"), Cli("quiet", "true"), Cli("device", "Wheel")},
     {File("max-gear", "5"), File("quiet", "no"), File("device", "Shifter"), File("hold-ms", "60")},
     "Wheel||standard|4|KEY_PAGEUP=104|KEY_PAGEDOWN=109|60|40|quiet"},
    {"CommandLinePlateReplacesFileGate", {Cli("plate", "NASCAR")}, {File("gate", "1=13")}, "|nascar|"},
    {"CommandLineGateReplacesFilePlate", {Cli("gate", "1=13")}, {File("plate", "nascar")}, "|1=13|"},
    {"HexIsNoNumber", {Cli("gap-ms", "0x10")}, {}, "--gap-ms: '0x10' is not a decimal number from 0 to 1000"},
    {"HexInTheFile", {}, {File("hold-ms", "0x10")}, "f.conf:3: hold-ms: '0x10' is not a decimal number from 1 to"},
    {"SignIsNoNumber", {Cli("max-gear", "+5")}, {}, "--max-gear: '+5' is not a decimal number from 4 to 7"},
    {"UnitIsNoNumber", {Cli("hold-ms", "40ms")}, {}, "--hold-ms: '40ms'"},
    {"HugeNumber", {Cli("hold-ms", "4294967336")}, {}, "--hold-ms: '4294967336'"},
    {"HoldBelowRange", {Cli("hold-ms", "0")}, {}, "--hold-ms: '0'"},
    {"GapAboveRange", {Cli("gap-ms", "1001")}, {}, "--gap-ms: '1001'"},
    {"GearBelowRange", {}, {File("max-gear", "3")}, "f.conf:3: max-gear: '3'"},
    {"NeitherTrueNorFalse", {}, {File("quiet", "maybe")}, "f.conf:3: quiet: 'maybe' is neither true nor false"},
    {"UnknownPlate", {Cli("plate", "sport")}, {}, "--plate: 'sport' is not a plate"},
    {"BadGate", {Cli("gate", "1=13,1=14")}, {}, "--gate: gear 1 is given twice"},
    {"FileGateWrongEvenWhenReplaced", {Cli("plate", "nascar")}, {File("gate", "8=1")}, "f.conf:3: gate: '8'"},
    {"PlateAndGateOnTheCommandLine", {Cli("plate", "nascar"), Cli("gate", "1=13")}, {}, "--plate and --gate cannot"},
    {"PlateAndGateInTheFile", {}, {File("plate", "nascar"), File("gate", "1=13")}, "f.conf:3: gate: plate is set too"},
    {"NotAKey", {Cli("down-key", "BTN_A")}, {}, "--down-key: 'BTN_A' is not a keyboard key"},
    {"OutputInAnyCase", {}, {File("output", "Shifter")}, "|shifter"},
    {"UnknownOutput", {Cli("output", "vjoy")}, {}, "--output: 'vjoy' is not an output: keyboard or shifter"},
    {"VJoyDevice", {}, {File("vjoy-device", "16"), File("output", "shifter")}, "|shifter|vjoy16"},
    {"VJoyDeviceBeyondSixteen", {Cli("vjoy-device", "17")}, {}, "--vjoy-device: '17' is not a decimal number from 1 to"},
    {"SameKeys", {Cli("down-key", "KEY_E")}, {File("up-key", "KEY_E")}, "--down-key: KEY_E is the up key too"},
    {"TelemetryOffByDefault", {}, {}, "|127.0.0.1:0=2130706433|w0f0"},
    {"TelemetryPortOnLoopback", {Cli("telemetry", "5300")}, {}, "|127.0.0.1:5300=2130706433|w1000f1000"},
    {"TelemetryEveryAddress", {}, {File("telemetry", "0.0.0.0:20777"), File("telemetry-wait-ms", "50")},
     "|0.0.0.0:20777=0|w100f1000"},
    {"TelemetryAddress", {Cli("telemetry", "192.168.1.20:65535")}, {}, "|192.168.1.20:65535=3232235796|"},
    {"TelemetryOffWins", {Cli("telemetry", "OFF")}, {File("telemetry", "5300")}, "|127.0.0.1:0="},
    {"TelemetryNoPort", {Cli("telemetry", "127.0.0.1:")}, {}, "--telemetry: '127.0.0.1:' is neither a port"},
    {"TelemetryPortTooBig", {Cli("telemetry", "65536")}, {}, "--telemetry: '65536' is neither"},
    {"TelemetryThreeParts", {Cli("telemetry", "10.0.1:5300")}, {}, "--telemetry: '10.0.1:5300' is neither"},
    {"TelemetryPartTooBig", {Cli("telemetry", "10.0.0.256:5300")}, {}, "--telemetry: '10.0.0.256:5300' is neither"},
    {"TelemetryLeadingZero", {Cli("telemetry", "010.0.0.1:5300")}, {}, "--telemetry: '010.0.0.1:5300' is neither"},
    {"TelemetryIPv6", {Cli("telemetry", "[::1]:5300")}, {}, "--telemetry: '[::1]:5300' is an IPv6 address"},
    {"TelemetryWaitTooShort", {Cli("telemetry-wait-ms", "49")}, {}, "--telemetry-wait-ms: '49' is not a decimal"},
};

void PrintTo(const JoinCase &c, std::ostream *os)
{
    *os << c.name;
}

class Join : public testing::TestWithParam<JoinCase> {};

TEST_P(Join, CommandLineWinsAndEveryValueIsChecked)
{
    const JoinCase &c = GetParam();
    Settings s;
    std::string error;
    if (JoinSettings(c.cli, c.file, Keys, &s, &error))
        EXPECT_NE(Describe(s).find(c.result), std::string::npos) << Describe(s);
    else
        EXPECT_EQ(error.find(c.result), 0u) << error;
}

INSTANTIATE_TEST_SUITE_P(Settings, Join, testing::ValuesIn(JoinCases),
                         [](const testing::TestParamInfo<JoinCase> &info) { return info.param.name; });

// A file with many mistakes names each one, in the order of its lines, and takes the rest.
TEST(ConfigMistakes, EveryMistakeInLineOrder)
{
    const std::string text = "hold-ms = 0x10\n"
                             "[gearvane]\n"
                             "max-gear = 5\n"
                             "up-key = BTN_A\n"
                             "max-gear = 6\n"
                             "quiet\n"
                             "gate = 8=1\n"
                             "plate = standard\n"
                             "down-key = KEY_E\n";
    std::vector<std::string> expected = {
        "f.conf:1: hold-ms: '0x10' is not a decimal number from 1 to 1000",
        "f.conf:2: '[gearvane]': the config file has no sections; write key = value lines",
        "f.conf:4: up-key: 'BTN_A' is not a keyboard key that gearvane can send; use a name such as KEY_PAGEUP or KEY_E",
        "f.conf:5: max-gear is set on line 3 already",
        "f.conf:6: 'quiet' is not of the form key = value",
        "f.conf:7: gate: plate is set too; keep one of plate and gate",
    };
    EXPECT_EQ(ConfigMistakes(text, "f.conf", {}, Keys), expected);
    // The command line's mistakes come first; the first of all is the one JoinSettings gives.
    expected.insert(expected.begin(), "--gap-ms: '-1' is not a decimal number from 0 to 1000");
    EXPECT_EQ(ConfigMistakes(text, "f.conf", {Cli("gap-ms", "-1")}, Keys), expected);
    EXPECT_TRUE(ConfigMistakes("max-gear = 5\nup-key = KEY_E\n", "f.conf", {}, Keys).empty());
}

// gearvane-tray's --help lists what means something on Windows; the rest is still taken, so
// that a command line or a config file means the same on every system.
TEST(CommandLine, WindowsHelpListsOnlyWhatMeansSomethingThere)
{
    Program windows = {"gearvane-tray", "", "1", "%APPDATA%", true};
    CommandLine line;
    std::string help, error;
    ASSERT_EQ(ParseCommandLine({"--help"}, windows, {}, &line, &help, &error), 0);
    for (const char *word : {"/dev/input", "Linux name", "--quiet", "virtual game controller"})
        EXPECT_EQ(help.find(word), std::string::npos) << word;
    for (const char *word : {"--device LEVER", "vJoy device", "--telemetry [ADDRESS:]PORT"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
    ASSERT_EQ(ParseCommandLine({"--quiet", "--telemetry", "5300"}, windows, {}, &line, &help, &error), -1) << error;
    EXPECT_EQ(line.settings.size(), 2u);
    windows.windows = false;
    ASSERT_EQ(ParseCommandLine({"--help"}, windows, {}, &line, &help, &error), 0);
    EXPECT_NE(help.find("/dev/input/event5"), std::string::npos);
}

struct RewriteCase {
    const char *name;
    std::string text;
    std::vector<std::pair<std::string, std::string>> set;
    std::string rewritten;
};

const RewriteCase RewriteCases[] = {
    {"IntoNothing", "", {{"max-gear", "5"}}, "max-gear = 5\n"},
    {"InPlaceKeepingTheRest",
     "# my wheel\nhold-ms = 60\n  max-gear=7 # was 6\n; end",
     {{"max-gear", "5"}},
     "# my wheel\nhold-ms = 60\nmax-gear = 5\n; end\n"},
    {"GateDropsPlateAndAddsTheRest",
     "plate = nascar\nquiet = true\n",
     {{"device", "Shifter"}, {"gate", "1=13,R=hat-left"}},
     "quiet = true\ndevice = \"Shifter\"\ngate = \"1=13,R=hat-left\"\n"},
    {"PlateDropsGateAndTheCommentedOneStays",
     "# gate = 1=2\ngate = 1=13\n",
     {{"plate", "standard"}},
     "# gate = 1=2\nplate = standard\n"},
    {"WindowsFileStaysWindows",
     "\xEF\xBB\xBF" "gap-ms = 1\r\nup-key = KEY_E\r\n",
     {{"gap-ms", "20"}},
     "\xEF\xBB\xBF" "gap-ms = 20\r\nup-key = KEY_E\r\n"},
    {"OddNamesQuoted", "", {{"device", "A \"B\" \\ #1"}, {"up-key", ""}},
     "device = \"A \\\"B\\\" \\\\ #1\"\nup-key = \"\"\n"},
};

void PrintTo(const RewriteCase &c, std::ostream *os)
{
    *os << c.name;
}

class Rewrite : public testing::TestWithParam<RewriteCase> {};

TEST_P(Rewrite, SetsKeysAndKeepsTheRest)
{
    const RewriteCase &c = GetParam();
    std::string text = RewriteConfig(c.text, c.set);
    EXPECT_EQ(text, c.rewritten);
    // What was written reads back as what was set.
    std::vector<SettingValue> values;
    std::string error;
    ASSERT_TRUE(ReadConfigText(text, "f.conf", &values, &error)) << error;
    for (const auto &kv : c.set) {
        bool found = false;
        for (const SettingValue &v : values)
            found = found || (v.key == kv.first && v.value == kv.second);
        EXPECT_TRUE(found) << kv.first;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Rewrite, testing::ValuesIn(RewriteCases),
                         [](const testing::TestParamInfo<RewriteCase> &info) { return info.param.name; });

}  // namespace
