// gearvane-tray's parts that need Windows but no window: the --log file, each line with its
// time and kept under its limit with one old file beside it; the command line that Start with
// Windows writes. They run under Wine in the cross build.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <regex>
#include <string>

#include "app/tray/status.h"
#include "app/tray/text.h"

namespace {

std::string Read(const std::wstring &path)
{
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr));
    char buffer[4096];
    DWORD got = 0;
    if (!file.h || !ReadFile(file.h, buffer, sizeof buffer, &got, nullptr))
        return "(none)";
    return std::string(buffer, got);
}

TEST(StatusLog, TimedLinesAndOneOldFileUnderTheLimit)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + L"gearvane-status-test.log";
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".old").c_str());
    std::string error;
    {
        StatusLog old;
        ASSERT_TRUE(OpenStatusLog(&old, path, &error)) << error;
        AddStatusLine(&old, "from the last run", true);
    }
    StatusLog log;
    ASSERT_TRUE(OpenStatusLog(&log, path, &error)) << error;
    log.limit = 100;  // three lines of 32 bytes
    for (int i = 1; i <= 7; i++)
        AddStatusLine(&log, "line " + std::to_string(i), false);
    const std::string time = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
    auto lines = [&](int first) {
        return std::regex(time + "line " + std::to_string(first) + "\r\n" + time + "line " +
                          std::to_string(first + 1) + "\r\n" + time + "line " + std::to_string(first + 2) + "\r\n");
    };
    EXPECT_TRUE(std::regex_match(Read(path), lines(5))) << Read(path);
    EXPECT_TRUE(std::regex_match(Read(path + L".old"), lines(2))) << Read(path + L".old");
    log.file.Reset();
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".old").c_str());
}

// Windows splits a command line by its own rules of quotes and backslashes: each argument
// must come back whole.
TEST(Argument, ComesBackWholeFromTheCommandLine)
{
    const std::wstring args[] = {L"plain", L"two words", L"", L"C:\\Program Files\\gearvane\\",
                                 L"a \"quoted\" name", L"back\\\"slash\\\\\"", L"--device=Wheel \"2\""};
    for (const std::wstring &arg : args) {
        std::wstring line = L"gearvane-tray.exe " + Argument(arg) + L" " + Argument(L"next");
        int count = 0;
        wchar_t **argv = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_EQ(count, 3) << Utf8(line);
        EXPECT_EQ(argv[1], arg) << Utf8(line);
        EXPECT_STREQ(argv[2], L"next");
        LocalFree(argv);
    }
}

}  // namespace
