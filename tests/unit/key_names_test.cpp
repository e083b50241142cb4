// The readable key names: one for every key the front ends can send, each with its evdev code.
#include <gtest/gtest.h>

#include <set>
#include <string>

#ifdef __linux__
#include <libevdev/libevdev.h>
#endif

#include "config/key_names.h"
#include "config/scan_codes.h"

TEST(KeyNames, NameEveryKeyThatCanBeSentAndNoOther)
{
    int scanCount, nameCount;
    const KeyScan *scans = KeyScans(&scanCount);
    const KeyName *names = KeyNames(&nameCount);
    std::set<std::string> sendable, named, readable;
    for (int i = 0; i < scanCount; i++)
        sendable.insert(scans[i].name);
    for (int i = 0; i < nameCount; i++) {
        named.insert(names[i].name);
        EXPECT_TRUE(readable.insert(names[i].readable).second) << names[i].readable << " names two keys";
    }
    EXPECT_EQ(named, sendable);
    EXPECT_STREQ(ReadableKey("KEY_PAGEUP"), "Page Up");
    EXPECT_STREQ(ReadableKey("KEY_KPSLASH"), "Num /");
    EXPECT_STREQ(ReadableKey("KEY_MUTE"), "KEY_MUTE");  // not in the table: shown as it is
    EXPECT_EQ(FindKeyCode(104), FindKeyName("KEY_PAGEUP"));
    EXPECT_EQ(FindKeyCode(0), nullptr);
}

#ifdef __linux__
TEST(KeyNames, CodesAreTheKernels)
{
    int count;
    const KeyName *names = KeyNames(&count);
    for (int i = 0; i < count; i++)
        EXPECT_EQ(names[i].code, libevdev_event_code_from_name(EV_KEY, names[i].name)) << names[i].name;
}
#endif
