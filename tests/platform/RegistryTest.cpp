#include "platform/Registry.h"

#include "platform/Errors.h"
#include "platform/RegistryText.h"
#include "TestMain.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace palvex;

namespace {

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { SetRegistryStoreFolder((m_dir.Path() / "Korvane").string()); }
    void TearDown() override { SetRegistryStoreFolder(""); }
    std::filesystem::path StoreFile() const { return RegistryStoreFile(TRegistryRoot::LocalMachine); }
    test::TempDir m_dir;
};

} // namespace

TEST_F(RegistryTest, RoundTripAcrossObjectsWithDefaultAndColonValues)
{
    {
        TRegistry reg(TRegistryRoot::LocalMachine);
        ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Korvane\\Palvex\\Language", true));
        EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\Korvane\\Palvex\\Language");
        reg.WriteString(":", "0");
        reg.WriteString("", "the default");
        reg.WriteString("Command", "\"C:\\Program Files\\palvex.exe\" \"%1\" /width=800\nnext\tline");
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\SOFTWARE\\Korvane\\Palvex\\Language"));
    EXPECT_EQ(reg.ReadString(":"), "0");
    EXPECT_EQ(reg.ReadString(""), "the default");
    EXPECT_EQ(reg.ReadString("Command"), "\"C:\\Program Files\\palvex.exe\" \"%1\" /width=800\nnext\tline");
    EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{":", "", "Command"}));

    // The file is meant to be read by people.
    const std::string text = ReadFile(StoreFile());
    EXPECT_NE(text.find("[\\SOFTWARE\\Korvane\\Palvex\\Language]\n\":\"=\"0\"\n@=\"the default\"\n"),
              std::string::npos)
        << text;

    // The classes root is a separate file.
    TRegistry classes(TRegistryRoot::ClassesRoot);
    EXPECT_FALSE(classes.KeyExists("\\SOFTWARE"));
}

TEST_F(RegistryTest, NamesIgnoreCaseAndRelativePathsFollowTheOpenKey)
{
    TRegistry reg(TRegistryRoot::ClassesRoot);
    ASSERT_TRUE(reg.CreateKey("\\Korvane.Palvex\\Shell\\KVPX01\\Command"));
    EXPECT_TRUE(reg.KeyExists("\\korvane.palvex\\SHELL\\kvpx01"));
    ASSERT_TRUE(reg.OpenKey("\\KORVANE.PALVEX\\shell", false));
    EXPECT_TRUE(reg.KeyExists("KVPX01\\Command"));
    EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"KVPX01"});
    ASSERT_TRUE(reg.OpenKey("kvpx01", false));
    // The open path keeps the names as the caller wrote them.
    EXPECT_EQ(reg.CurrentPath(), "KORVANE.PALVEX\\shell\\kvpx01");
    reg.WriteString("Name", "a");
    reg.WriteString("NAME", "b");
    EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"Name"});
    EXPECT_EQ(reg.ReadString("name"), "b");
    EXPECT_TRUE(reg.DeleteValue("nAmE"));
    EXPECT_FALSE(reg.ValueExists("Name"));

    // Creating an existing key under another case adds nothing.
    EXPECT_TRUE(reg.CreateKey("\\KORVANE.PALVEX\\SHELL"));
    reg.CloseKey();
    ASSERT_TRUE(reg.OpenKey("\\Korvane.Palvex", false));
    EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"Shell"});
}

TEST_F(RegistryTest, MissingKeysAndValuesReadEmptyAndCreateNothing)
{
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey("\\SOFTWARE\\Korvane\\Nothing", false));
    EXPECT_FALSE(reg.HasCurrentKey());
    EXPECT_EQ(reg.ReadString(":"), "");
    EXPECT_FALSE(reg.KeyExists("\\SOFTWARE"));
    EXPECT_FALSE(reg.DeleteKey("\\SOFTWARE\\Nothing"));
    EXPECT_FALSE(std::filesystem::exists(StoreFile()));
    EXPECT_FALSE(std::filesystem::exists(RegistryStoreFolder()));

    ASSERT_TRUE(reg.OpenKey("\\A", true));
    EXPECT_EQ(reg.ReadString("missing"), "");
    EXPECT_FALSE(reg.ValueExists("missing"));
    EXPECT_THROW_MSG(TRegistry().WriteString("x", "y"), ERegistryException, "Failed to set data for 'x'");
}

TEST_F(RegistryTest, DeleteKeyTakesItsSubkeys)
{
    TRegistry reg(TRegistryRoot::ClassesRoot);
    reg.CreateKey("\\Directory\\Shell\\KVPX01\\Command");
    reg.CreateKey("\\Directory\\Shell\\KVPX02");
    EXPECT_TRUE(reg.DeleteKey("\\directory\\shell\\kvpx01"));
    EXPECT_FALSE(reg.KeyExists("\\Directory\\Shell\\KVPX01\\Command"));
    EXPECT_TRUE(reg.KeyExists("\\Directory\\Shell\\KVPX02"));
    EXPECT_FALSE(reg.DeleteKey("\\Directory\\Shell\\KVPX01"));
    EXPECT_FALSE(reg.DeleteKey("\\"));

    // A value written through a key that another object deleted is an error, not a silent loss.
    ASSERT_TRUE(reg.OpenKey("\\Directory\\Shell\\KVPX02", false));
    TRegistry(TRegistryRoot::ClassesRoot).DeleteKey("\\Directory");
    EXPECT_THROW_MSG(reg.WriteString("", "caption"), ERegistryException, "Failed to set data for ''");
}

TEST_F(RegistryTest, TwoWritersLoseNothing)
{
    constexpr int kKeys = 25;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            int status = 0;
            try {
                TRegistry reg;
                for (int i = 0; i < kKeys; ++i) {
                    reg.OpenKey("\\SOFTWARE\\Writer" + std::to_string(c) + "\\Key" + std::to_string(i), true);
                    reg.WriteString("n", std::to_string(i));
                }
            } catch (...) {
                status = 1;
            }
            _exit(status);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TRegistry reg;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kKeys; ++i) {
            ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Writer" + std::to_string(c) + "\\Key" + std::to_string(i), false))
                << c << " " << i;
            EXPECT_EQ(reg.ReadString("n"), std::to_string(i));
        }
    // No temporary file is left behind.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(RegistryStoreFolder())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 2); // the store and its lock file
}

TEST_F(RegistryTest, DamagedFileIsReportedAndLeftAsItIs)
{
    std::filesystem::create_directories(RegistryStoreFolder());
    const std::string damaged = "[\\SOFTWARE]\n\"a\"=\"1\"\nthis is not a value line\n";
    std::ofstream(StoreFile(), std::ios::binary) << damaged;
    const std::string message =
        "The settings file \"" + StoreFile().string() + "\" is damaged at line 3 and was left as it is";

    TRegistry reg;
    EXPECT_THROW_MSG(reg.OpenKey("\\SOFTWARE", false), ERegistryException, message);
    EXPECT_THROW_MSG(reg.CreateKey("\\SOFTWARE\\New"), ERegistryException, message);
    EXPECT_THROW_MSG(reg.OpenKey("\\SOFTWARE\\New", true), ERegistryException, message);
    EXPECT_EQ(ReadFile(StoreFile()), damaged);
}

TEST_F(RegistryTest, UnwritableFolderGivesTheCreateKeyError)
{
    // A file where the folder should be stops even a privileged process.
    std::ofstream(m_dir.Path() / "Korvane") << "not a folder";
    TRegistry reg;
    EXPECT_THROW_MSG(reg.CreateKey("\\SOFTWARE\\Korvane\\Palvex"), ERegistryException,
                     "Failed to create key \\SOFTWARE\\Korvane\\Palvex");
    EXPECT_FALSE(reg.OpenKey("\\SOFTWARE\\Korvane\\Palvex", true));

    if (geteuid() != 0) {
        std::filesystem::remove(m_dir.Path() / "Korvane");
        std::filesystem::create_directories(RegistryStoreFolder());
        chmod(RegistryStoreFolder().c_str(), 0555);
        EXPECT_THROW_MSG(reg.CreateKey("\\SOFTWARE\\Korvane\\Palvex"), ERegistryException,
                         "Failed to create key \\SOFTWARE\\Korvane\\Palvex");
        chmod(RegistryStoreFolder().c_str(), 0755);
    }
}

TEST(RegistryStoreFolder, FollowsXdgConfigHome)
{
    SetRegistryStoreFolder("");
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved ? saved : "";
    setenv("XDG_CONFIG_HOME", "/tmp/some-config", 1);
    EXPECT_EQ(RegistryStoreFolder(), "/tmp/some-config/Korvane");
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(RegistryStoreFolder(), std::string(std::getenv("HOME")) + "/.config/Korvane");
    if (saved)
        setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(RegistryText, ParsesWhatItWritesAndRejectsBrokenLines)
{
    TRegistryKey root;
    bool created = false;
    TRegistryKey& key = CreateRegistryKey(root, {"A", "B"}, created);
    key.Values.push_back({"", "x\\\"\x01\x7f\xc5\xbe"});
    key.Values.push_back({"=", "[\\]"});
    root.Values.push_back({"top", "1"});
    TRegistryKey back;
    ASSERT_EQ(ParseRegistry(SerializeRegistry(root, "title"), back), 0);
    EXPECT_EQ(SerializeRegistry(back, "title"), SerializeRegistry(root, "title"));
    ASSERT_NE(FindRegistryKey(back, {"a", "b"}), nullptr);
    EXPECT_EQ(FindRegistryValue(*FindRegistryKey(back, {"A", "B"}), "")->Data, "x\\\"\x01\x7f\xc5\xbe");

    for (const char* text : {"\"a\"=\"1\"\n", "[\\A]\n\"a\"=\"1\n", "[\\A]\n\"a\"=\"1\" x\n", "[\\A]\n\"a\"\n",
                             "[A]\n", "[\\A\n", "[\\A]\n@=\"\\q\"\n", "[\\A]\n@=\"\\x4\"\n", "[\\A]\nvalue\n"}) {
        TRegistryKey t;
        EXPECT_NE(ParseRegistry(text, t), 0) << text;
    }
    TRegistryKey t;
    EXPECT_EQ(ParseRegistry("; comment\r\n\r\n[\\A]\r\n  @=\"v\"\r\n", t), 0);
    EXPECT_EQ(FindRegistryValue(*FindRegistryKey(t, {"A"}), "")->Data, "v");
}
