// The config file on disk: --learn's writes never follow a planted link, never leave half a
// file, and never write what cannot be read back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/linux/options.h"
#include "config/config_file.h"
#include "config/gate_map.h"

namespace {

class ConfigFile : public testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/gearvane-config-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        dir = folder;
        conf = dir + "/gearvane.conf";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static std::string Read(const std::string &path)
    {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }
    static void Put(const std::string &path, const std::string &text) { std::ofstream(path) << text; }
    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            names.insert(entry.path().filename());
        return names;
    }

    std::string dir, conf, error;
};

TEST_F(ConfigFile, NeverFollowsALinkPlantedBesideItNorLeavesOneOfItsOwn)
{
    Put(dir + "/victim", "victim\n");
    ASSERT_EQ(symlink("victim", (conf + ".new").c_str()), 0);
    ASSERT_TRUE(WriteConfigFile(conf, "quiet = true\n", &error)) << error;
    struct stat st;
    ASSERT_EQ(lstat(conf.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(Read(conf), "quiet = true\n");
    EXPECT_EQ(Read(dir + "/victim"), "victim\n");
    EXPECT_EQ(Names(), (std::set<std::string>{"gearvane.conf", "gearvane.conf.new", "victim"}));
}

TEST_F(ConfigFile, ThroughALinkWritesTheFileItLeadsToEvenOneNotThereYet)
{
    ASSERT_EQ(symlink("dotfiles/gearvane.conf", conf.c_str()), 0);
    ASSERT_TRUE(WriteConfigFile(conf, "quiet = true\n", &error)) << error;
    struct stat st;
    ASSERT_EQ(lstat(conf.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Read(dir + "/dotfiles/gearvane.conf"), "quiet = true\n");
}

TEST_F(ConfigFile, ANewFileTakesTheUmaskAnOldOneKeepsItsMode)
{
    const struct {
        mode_t umask, old, mode;  // old 0: no file before
    } cases[] = {{077, 0, 0600}, {022, 0, 0644}, {000, 0640, 0640}, {077, 0604, 0604}};
    for (const auto &c : cases) {
        unlink(conf.c_str());
        if (c.old) {
            Put(conf, "quiet = false\n");
            chmod(conf.c_str(), c.old);
        }
        mode_t before = umask(c.umask);
        bool ok = WriteConfigFile(conf, "quiet = true\n", &error);
        umask(before);
        struct stat st;
        ASSERT_TRUE(ok && stat(conf.c_str(), &st) == 0) << error;
        EXPECT_EQ(st.st_mode & 07777, c.mode) << "umask " << std::oct << c.umask << ", old " << c.old;
    }
}

TEST_F(ConfigFile, AFolderThatCannotBeWrittenIsNamed)
{
    // Root writes anywhere: the write is tried as nobody.
    const std::string locked = dir + "/locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    bool root = geteuid() == 0;
    ASSERT_TRUE(!root || seteuid(65534) == 0);
    bool ok = WriteConfigFile(locked + "/gearvane.conf", "quiet = true\n", &error);
    ASSERT_TRUE(!root || seteuid(0) == 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "cannot write in " + locked + ": Permission denied");
}

// What --learn writes must read back: a fault in the lines it replaces is mended, any other
// is left for the user, named as the file has it, and the file stays as it was.
TEST_F(ConfigFile, LearnedLinesAreWrittenOnlyWhenTheWholeFileReadsBack)
{
    const struct {
        const char *before;  // nullptr: no file
        const char *device;
        const char *after;   // nullptr: as before
        const char *error;
    } cases[] = {
        {nullptr, "Shifter", "device = \"Shifter\"\ngate = \"1=13,2=14\"\n", ""},
        {"# mine\ngate = 1=13,1=14\nplate = nascar\nhold-ms = 50\n", "Shifter",
         "# mine\ngate = \"1=13,2=14\"\nhold-ms = 50\ndevice = \"Shifter\"\n", ""},
        {"hold-ms = 50\nmax-gear = 9\n", "Shifter", nullptr, "gearvane.conf:2: max-gear: '9'"},
        {"hold-ms = 50\n", "Shift\x1b[2JBox", nullptr, "the lever's device holds a control character"},
    };
    for (const auto &c : cases) {
        unlink(conf.c_str());
        if (c.before)
            Put(conf, c.before);
        GateMap map;
        char message[100];
        ASSERT_TRUE(ParseGateMap("1=13,2=14", &map, message, sizeof message));
        error.clear();
        bool ok = SaveLearned(conf, LearnedSettings(c.device, map), KeyboardKeyCode, &error);
        EXPECT_EQ(ok, c.after != nullptr) << c.device;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        if (c.after)
            EXPECT_EQ(Read(conf), c.after);
        else if (c.before)
            EXPECT_EQ(Read(conf), c.before);
        else
            EXPECT_NE(access(conf.c_str(), F_OK), 0);
    }
}

}  // namespace
