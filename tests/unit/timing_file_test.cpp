// Timing file: the values read and the exact echo in the debug text, for normal and odd
// files, and the road of a missing file. Runs in a folder of its own (see CMakeLists.txt),
// where it writes shift.ini.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include "config/timing_file.h"
#include "core/state.h"
#include "fake_platform.h"

namespace {

void WriteTimingFile(const std::string &contents)
{
    FILE *file = fopen("shift.ini", "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(contents.data(), 1, contents.size(), file), contents.size());
    fclose(file);
}

struct FileCase {
    const char *name;
    std::string contents;
    int32_t wait1;
    int32_t wait2;
    std::string echo;  // what follows "Ini file read \n"
};

const FileCase FileCases[] = {
    {"Normal", "50\n20\n", 50000, 20000, "WAIT1= 50\nWAIT2= 20\n\n"},
    {"ExtraLinesIgnored", "50\n20\n30\n", 50000, 20000, "WAIT1= 50\nWAIT2= 20\n\n"},
    {"Empty", "", 0, 0, "WAIT1= WAIT2= \n"},
    {"OneLineRepeatsIt", "50\n", 50000, 50000, "WAIT1= 50\nWAIT2= 50\n\n"},
    {"OneLineNoLineFeed", "50", 50000, 50000, "WAIT1= 50WAIT2= 50\n"},
    {"LastLineNoLineFeed", "50\n20", 50000, 20000, "WAIT1= 50\nWAIT2= 20\n"},
    {"EmptyFirstLine", "\n20\n", 0, 20000, "WAIT1= \nWAIT2= 20\n\n"},
    {"Exactly19Characters", "1234567890123456789\n7\n", -668976632, 0,
     "WAIT1= 1234567890123456789WAIT2= \n\n"},
    {"LongLineContinues", "12345678901234567890123\n7\n", -668976632, 123000,
     "WAIT1= 1234567890123456789WAIT2= 0123\n\n"},
    {"KeyAndValueReadsZero", "WAIT1=50\nWAIT2=20\n", 0, 0, "WAIT1= WAIT1=50\nWAIT2= WAIT2=20\n\n"},
    {"SignsAndSpace", "  -5\n\t+7 ms\n", -5000, 7000, "WAIT1=   -5\nWAIT2= \t+7 ms\n\n"},
    {"SignsOnly", "-\n+\n", 0, 0, "WAIT1= -\nWAIT2= +\n\n"},
    {"ProductWraps", "2147484\n-2147484\n", -2147483296, 2147483296, "WAIT1= 2147484\nWAIT2= -2147484\n\n"},
    {"ConversionWraps", "4294967295\n99999999999\n", -1000, 276446232,
     "WAIT1= 4294967295\nWAIT2= 99999999999\n\n"},
    {"MostNegative", "-2147483648\n4294967296\n", 0, 0, "WAIT1= -2147483648\nWAIT2= 4294967296\n\n"},
    {"BinaryAndNul", std::string("\x01\xff" "7\n\0 9\n", 7), 0, 0, "WAIT1= \x01\xff" "7\nWAIT2= \n"},
#ifdef _WIN32
    // The target's text mode drops the CR of a CRLF.
    {"CrLf", "50\r\n20\r\n", 50000, 20000, "WAIT1= 50\nWAIT2= 20\n\n"},
#else
    // The host's C library has no text mode: the CR stays and only the echo shows it.
    {"CrLf", "50\r\n20\r\n", 50000, 20000, "WAIT1= 50\r\nWAIT2= 20\r\n\n"},
#endif
    {"LoneCr", "50\r20\n", 50000, 50000, "WAIT1= 50\r20\nWAIT2= 50\r20\n\n"},
};

void PrintTo(const FileCase &c, std::ostream *os)
{
    *os << c.name;
}

class TimingFile : public testing::TestWithParam<FileCase> {};

TEST_P(TimingFile, ReadsValuesAndEchoesLines)
{
    const FileCase &c = GetParam();
    ResetFake();
    AppendDebugText("Dialog Interface Created \n");
    WriteTimingFile(c.contents);

    EXPECT_TRUE(LoadTimingFile(FakeDialog));
    EXPECT_EQ(WAIT1, c.wait1);
    EXPECT_EQ(WAIT2, c.wait2);
    EXPECT_EQ(std::string(DebugText), "Dialog Interface Created \nIni file read \n" + c.echo);
    EXPECT_TRUE(TakeLog().empty());
    remove("shift.ini");
}

INSTANTIATE_TEST_SUITE_P(Files, TimingFile, testing::ValuesIn(FileCases),
                         [](const testing::TestParamInfo<FileCase> &info) { return info.param.name; });

TEST(TimingFileMissing, WarnsAndQuitsAndReadsNothing)
{
    ResetFake();
    remove("shift.ini");
    AppendDebugText("Dialog Interface Created \n");

    EXPECT_FALSE(LoadTimingFile(FakeDialog));
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"warning 'Couldn't open shift.ini'", "quit"}));
    EXPECT_EQ(WAIT1, 0);
    EXPECT_EQ(WAIT2, 0);
    EXPECT_STREQ(DebugText, "Dialog Interface Created \n");
}

TEST(DebugTextBuffer, AppendsStopAtTheEnd)
{
    ResetFake();
    std::string fill(DEBUG_TEXT_SIZE - 6, 'x');
    AppendDebugText(fill.c_str());
    AppendDebugText("Joystick OK \n");
    EXPECT_EQ(strlen(DebugText), size_t(DEBUG_TEXT_SIZE - 1));
    EXPECT_EQ(std::string(DebugText).substr(fill.size()), "Joyst");
    AppendDebugText("more");
    EXPECT_EQ(strlen(DebugText), size_t(DEBUG_TEXT_SIZE - 1));
}

}  // namespace
