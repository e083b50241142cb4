// The key table of the Windows front end: evdev names to set-1 scan codes and virtual keys.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "config/scan_codes.h"

namespace {

struct KeyCase {
    const char *name;
    int scan;
    bool extended;
    int vk;
};

// The keypad and the navigation block share scan codes; only E0 tells them apart.
const KeyCase Keys[] = {
    {"KEY_PAGEUP", 0x49, true, 0x21},   {"KEY_KP9", 0x49, false, 0x69},    {"KEY_PAGEDOWN", 0x51, true, 0x22},
    {"KEY_KP3", 0x51, false, 0x63},     {"KEY_UP", 0x48, true, 0x26},      {"KEY_KP8", 0x48, false, 0x68},
    {"KEY_HOME", 0x47, true, 0x24},     {"KEY_DELETE", 0x53, true, 0x2E}, {"KEY_KPENTER", 0x1C, true, 0x0D},
    {"KEY_ENTER", 0x1C, false, 0x0D},   {"KEY_RIGHTCTRL", 0x1D, true, 0xA3}, {"KEY_ESC", 0x01, false, 0x1B},
    {"KEY_E", 0x12, false, 'E'},        {"KEY_0", 0x0B, false, '0'},       {"KEY_F12", 0x58, false, 0x7B},
    {"KEY_F24", 0x76, false, 0x87},
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << c.name;
}

class KeyTable : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyTable, GivesScanCodeExtendedFlagAndVirtualKey)
{
    const KeyCase &c = GetParam();
    const KeyScan *key = FindKeyScan(c.name);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->scan, c.scan);
    EXPECT_EQ(key->extended, c.extended);
    EXPECT_EQ(key->vk, c.vk);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyTable, testing::ValuesIn(Keys),
                         [](const testing::TestParamInfo<KeyCase> &info) { return std::string(info.param.name); });

TEST(KeyTable, RefusesWhatIsNoShiftKey)
{
    for (const char *name : {"", "KEY_pageup", "PAGEUP", "KEY_PAGEUP ", "BTN_A", "KEY_LEFTMETA", "KEY_PAUSE",
                             "KEY_SYSRQ", "KEY_POWER", "KEY_RESERVED"})
        EXPECT_EQ(FindKeyScan(name), nullptr) << name;
}

// A copied line with a wrong name or a forgotten E0 shows up as two keys that one scan
// code cannot tell apart.
TEST(KeyTable, EachNameAndEachCodeOnce)
{
    int count;
    const KeyScan *keys = KeyScans(&count);
    std::set<std::string> names;
    std::set<std::pair<int, bool>> codes;
    for (int i = 0; i < count; i++) {
        EXPECT_TRUE(names.insert(keys[i].name).second) << keys[i].name;
        EXPECT_TRUE(codes.insert({keys[i].scan, keys[i].extended}).second) << keys[i].name;
        EXPECT_EQ(FindKeyByScan(keys[i].scan, keys[i].extended), &keys[i]) << keys[i].name;
    }
    EXPECT_EQ(FindKeyByScan(0x5B, true), nullptr);  // the left Windows key
    EXPECT_EQ(FindKeyByScan(0x37, true), nullptr);  // Print Screen, not Num *
}

}  // namespace
