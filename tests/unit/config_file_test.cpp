// The config file on disk: --learn's writes never follow a planted link, never leave half a
// file, and never write what cannot be read back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/linux/options.h"
#include "config/config_file.h"
#include "config/gate_map.h"

namespace {

namespace fs = std::filesystem;

struct ConfigFile : testing::Test {
    void SetUp() override
    {
        ASSERT_NE(mkdtemp(folder), nullptr);
        dir = folder;
        conf = dir + "/gearvane.conf";
    }
    void TearDown() override { fs::remove_all(dir); }
    static std::string Read(const std::string &path)
    {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }
    static void Put(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

    char folder[32] = "/tmp/gearvane-config-XXXXXX";
    std::string dir, conf, error;
};

// A link planted at a name the writer might use is never followed; the config file's own
// link, as dotfile managers make it, leads to the file to write, even one not there yet.
TEST_F(ConfigFile, OnlyTheConfigFilesOwnLinkIsFollowedAndNoTemporaryFileIsLeft)
{
    Put(dir + "/victim", "victim\n");
    ASSERT_EQ(symlink("victim", (conf + ".new").c_str()) | symlink("dotfiles/gearvane.conf", conf.c_str()), 0);
    ASSERT_TRUE(WriteConfigFile(conf, "quiet = true\n", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(conf));
    EXPECT_EQ(Read(conf), "quiet = true\n");
    EXPECT_EQ(Read(dir + "/victim"), "victim\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/dotfiles"), fs::directory_iterator()), 1);
}

TEST_F(ConfigFile, ANewFileTakesTheUmaskAnOldOneKeepsItsMode)
{
    const struct {
        mode_t umask, old, mode;  // old 0: no file before
    } cases[] = {{077, 0, 0600}, {022, 0, 0644}, {000, 0640, 0640}};
    for (const auto &c : cases) {
        unlink(conf.c_str());
        if (c.old) {
            Put(conf, "quiet = false\n");
            chmod(conf.c_str(), c.old);
        }
        mode_t before = umask(c.umask);
        EXPECT_TRUE(WriteConfigFile(conf, "quiet = true\n", &error)) << error;
        umask(before);
        struct stat st = {};
        stat(conf.c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, c.mode) << "umask " << std::oct << c.umask << ", old " << c.old;
    }
}

TEST_F(ConfigFile, AFolderThatCannotBeWrittenIsNamed)
{
    const std::string locked = dir + "/locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0555) | chmod(dir.c_str(), 0755), 0);
    bool root = geteuid() == 0;  // root writes anywhere: then it is tried as nobody
    ASSERT_TRUE(!root || seteuid(65534) == 0);
    bool ok = WriteConfigFile(locked + "/gearvane.conf", "quiet = true\n", &error);
    ASSERT_TRUE(!root || seteuid(0) == 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "cannot write in " + locked + ": Permission denied");
}

// A fault in the lines that --learn replaces is mended; any other is left for the user,
// named as the file has it, and the file stays as it was.
TEST_F(ConfigFile, LearnedLinesAreWrittenOnlyWhenTheWholeFileReadsBack)
{
    const struct {
        const char *before, *device, *after, *error;  // before null: no file; after null: unchanged
    } cases[] = {
        {nullptr, "Shifter", "device = \"Shifter\"\ngate = \"1=13,2=14\"\n", ""},
        {"# mine\ngate = 1=13,1=14\nplate = nascar\nhold-ms = 50\n", "Shifter",
         "# mine\ngate = \"1=13,2=14\"\nhold-ms = 50\ndevice = \"Shifter\"\n", ""},
        {"hold-ms = 50\nmax-gear = 9\n", "Shifter", nullptr, "gearvane.conf:2: max-gear: '9'"},
        {"hold-ms = 50\n", "Shift\x1b[2JBox", nullptr, "the lever's device holds a control character"},
    };
    GateMap map;
    char message[100];
    ASSERT_TRUE(ParseGateMap("1=13,2=14", &map, message, sizeof message));
    for (const auto &c : cases) {
        unlink(conf.c_str());
        if (c.before)
            Put(conf, c.before);
        error.clear();
        EXPECT_EQ(SaveLearned(conf, LearnedSettings(c.device, map), KeyboardKeyCode, &error), c.after != nullptr);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(Read(conf), c.after ? c.after : c.before ? c.before : "");
    }
}

}  // namespace
