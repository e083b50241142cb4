// Configuration text: the timing file's two lines and their values, and gate maps.
#include <gtest/gtest.h>

#include <string>

#include "config/gate_map.h"
#include "config/timing.h"

namespace {

struct TimingCase {
    const char *name;
    std::string text;
    const char *first;
    const char *second;
    int32_t wait1, wait2;
};

const TimingCase TimingCases[] = {
    {"Normal", "50\n20\n", "50\n", "20\n", 50000, 20000},
    {"ExtraLinesIgnored", "50\n20\n30\n", "50\n", "20\n", 50000, 20000},
    {"Empty", "", "", "", 0, 0},
    {"OneLineRepeatsIt", "50\n", "50\n", "50\n", 50000, 50000},
    {"OneLineNoLineFeed", "50", "50", "50", 50000, 50000},
    {"LastLineNoLineFeed", "50\n20", "50\n", "20", 50000, 20000},
    {"EmptyFirstLine", "\n20\n", "\n", "20\n", 0, 20000},
    {"Exactly19Characters", "1234567890123456789\n7\n", "1234567890123456789", "\n", -668976632, 0},
    {"LongLineContinues", "12345678901234567890123\n7\n", "1234567890123456789", "0123\n", -668976632, 123000},
    {"KeyAndValueReadsZero", "WAIT1=50\nWAIT2=20\n", "WAIT1=50\n", "WAIT2=20\n", 0, 0},
    {"SignsAndSpace", "  -5\n\t+7 ms\n", "  -5\n", "\t+7 ms\n", -5000, 7000},
    {"SignsOnly", "-\n+\n", "-\n", "+\n", 0, 0},
    {"ProductWraps", "2147484\n-2147484\n", "2147484\n", "-2147484\n", -2147483296, 2147483296},
    {"ConversionWraps", "4294967295\n99999999999\n", "4294967295\n", "99999999999\n", -1000, 276446232},
    {"MostNegative", "-2147483648\n4294967296\n", "-2147483648\n", "4294967296\n", 0, 0},
    {"NulEndsTheLine", std::string("\x01\xff" "7\n\0 9\n", 7), "\x01\xff" "7\n", "", 0, 0},
    {"CrStaysInTheLine", "50\r\n20\r\n", "50\r\n", "20\r\n", 50000, 20000},
    {"LoneCrIsNoLineEnd", "50\r20\n", "50\r20\n", "50\r20\n", 50000, 50000},
};

void PrintTo(const TimingCase &c, std::ostream *os)
{
    *os << c.name;
}

class TimingText : public testing::TestWithParam<TimingCase> {};

TEST_P(TimingText, SplitsLinesAndReadsValues)
{
    const TimingCase &c = GetParam();
    TimingLines lines;
    SplitTimingText(c.text.data(), c.text.size(), &lines);
    EXPECT_STREQ(lines.first, c.first);
    EXPECT_STREQ(lines.second, c.second);
    EXPECT_EQ(SpinCountOf(lines.first), c.wait1);
    EXPECT_EQ(SpinCountOf(lines.second), c.wait2);
}

INSTANTIATE_TEST_SUITE_P(Files, TimingText, testing::ValuesIn(TimingCases),
                         [](const testing::TestParamInfo<TimingCase> &info) { return info.param.name; });

struct BadMap {
    const char *text;
    const char *error;  // a part of the message
};

TEST(GateMapText, RefusesMalformedMapsAndSaysWhy)
{
    const BadMap cases[] = {
        {"", "not of the form"},
        {"1=13,", "not of the form"},
        {"1=13,,2=14", "not of the form"},
        {"1", "not of the form"},
        {"1=", "not of the form"},
        {"=13", "not of the form"},
        {"8=13", "the gear must be one of 1..7 or R"},
        {"0=13", "the gear must be one of 1..7 or R"},
        {"12=13", "the gear must be one of 1..7 or R"},
        {"N=13", "the gear must be one of 1..7 or R"},
        {"1=0", "the input must be a button number"},
        {"1=769", "the input must be a button number"},
        {"1=-3", "the input must be a button number"},
        {"1=13x", "the input must be a button number"},
        {"1=hat-forward", "the input must be a button number"},
        {"1=13,1=14", "gear 1 is given twice"},
        {"1=13,r=14,R=15", "gear R is given twice"},
        {"1=13,2=13", "'13' is given for two gears"},
        {"1=hat-up,2=hat-up", "'hat-up' is given for two gears"},
        {"reset=11", "the map names no gear"},
        {"1=13,reset=0", "the reset must be a button number"},
        {"1=13,reset=hat-up", "the reset must be a button number"},
        {"1=13,reset=11,reset=12", "the reset is given twice"},
        {"1=13,reset=13", "button 13 is both a gear and the reset"},
    };
    for (const BadMap &c : cases) {
        GateMap map = StandardPlate;
        char error[200] = "";
        EXPECT_FALSE(ParseGateMap(c.text, &map, error, sizeof error)) << c.text;
        EXPECT_NE(std::string(error).find(c.error), std::string::npos) << c.text << ": " << error;
        EXPECT_TRUE(map.exact) << c.text << ": a refused map must leave the old one alone";
    }
}

TEST(GateMapText, ReadsAndWritesTheSameMap)
{
    const struct {
        const char *text;
        const char *formatted;
    } cases[] = {
        {"1=13,2=14,3=15,4=16,5=17,6=18,R=19", "1=13,2=14,3=15,4=16,5=17,6=18,R=19"},
        {" R = 19 , 1=13 ,reset=11", "1=13,R=19,reset=11"},
        {"7=768,r=1,3=hat-left,2=hat-right,1=hat-up,4=hat-down", "1=hat-up,2=hat-right,3=hat-left,4=hat-down,7=768,R=1"},
    };
    for (const auto &c : cases) {
        GateMap map;
        char error[200] = "", text[160] = "";
        ASSERT_TRUE(ParseGateMap(c.text, &map, error, sizeof error)) << c.text << ": " << error;
        EXPECT_FALSE(map.exact);
        FormatGateMap(map, text, sizeof text);
        EXPECT_STREQ(text, c.formatted);
    }
}

}  // namespace
