#include "platform/Registry.h"

#include "platform/Errors.h"
#include "platform/RegistryText.h"
#include "TestMain.h"

#include <fstream>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace palvex;

namespace {

using test::ReadFileText;

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
    const std::string text = ReadFileText(StoreFile());
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

TEST_F(RegistryTest, DamagedFileIsKeptAsideAndTheStoreStartsAnew)
{
    std::filesystem::create_directories(RegistryStoreFolder());
    const std::string damaged = "[\\SOFTWARE]\n\"a\"=\"1\"\nthis is not a value line\n";
    std::ofstream(StoreFile(), std::ios::binary) << damaged;

    // Start-up reads the language: nothing is there, as on a first start.
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey("\\SOFTWARE", false));
    const std::string report = TakeRegistryDamageReport();
    std::vector<std::filesystem::path> aside;
    for (const auto& entry : std::filesystem::directory_iterator(RegistryStoreFolder()))
        if (entry.path().filename().string().starts_with("HKEY_LOCAL_MACHINE.txt.damaged-"))
            aside.push_back(entry.path());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFileText(aside[0]), damaged);
    EXPECT_EQ(report, "The settings file \"" + StoreFile().string() + "\" was damaged at line 3. It was kept as \"" +
                          aside[0].string() + "\" and the settings start anew");
    // Told once.
    EXPECT_EQ(TakeRegistryDamageReport(), "");

    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Korvane\\Palvex\\Language", true));
    reg.WriteString(":", "0");

    // A second damage in the same second keeps both copies.
    std::ofstream(StoreFile(), std::ios::binary | std::ios::trunc) << "[broken\n";
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\New", true));
    EXPECT_NE(TakeRegistryDamageReport().find("damaged at line 1"), std::string::npos);
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(RegistryStoreFolder()))
        kept += entry.path().filename().string().find(".damaged-") != std::string::npos;
    EXPECT_EQ(kept, 2);
    EXPECT_TRUE(reg.KeyExists("\\SOFTWARE\\New"));
    EXPECT_FALSE(reg.KeyExists("\\SOFTWARE\\Korvane"));
}

TEST_F(RegistryTest, LinkedStoreIsWrittenThroughItsLinkAndLeftoversAreCleared)
{
    // People keep their configuration in a dotfiles folder, linked into place.
    const auto dotfiles = m_dir.Path() / "dotfiles";
    std::filesystem::create_directories(dotfiles);
    std::filesystem::create_directories(RegistryStoreFolder());
    std::ofstream(dotfiles / "machine.txt") << "[\\SOFTWARE\\Kept]\n@=\"yes\"\n";
    std::filesystem::create_symlink("../dotfiles/machine.txt", StoreFile());
    // What killed writers left, and a person's file that only looks like it.
    std::ofstream(dotfiles / ".machine.txt.tmp-a1B2c3") << "half";
    std::ofstream(RegistryStoreFolder() + "/.HKEY_LOCAL_MACHINE.txt.tmp-Zz9y8X") << "half";
    std::ofstream(dotfiles / "machine.txt.backup") << "mine";

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Korvane\\Palvex\\Language", true));
    reg.WriteString(":", "1");

    EXPECT_TRUE(std::filesystem::is_symlink(StoreFile()));
    const std::string text = ReadFileText(dotfiles / "machine.txt");
    EXPECT_NE(text.find("[\\SOFTWARE\\Kept]\n@=\"yes\""), std::string::npos) << text;
    EXPECT_NE(text.find("\":\"=\"1\""), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(dotfiles / ".machine.txt.tmp-a1B2c3"));
    EXPECT_EQ(ReadFileText(dotfiles / "machine.txt.backup"), "mine");
    // The temporary name belongs to the link's target, not to the link.
    EXPECT_TRUE(std::filesystem::exists(RegistryStoreFolder() + "/.HKEY_LOCAL_MACHINE.txt.tmp-Zz9y8X"));

    // A damaged target is kept aside beside it; the link stays and gets a fresh file.
    std::ofstream(dotfiles / "machine.txt", std::ios::trunc) << "garbage\n";
    EXPECT_FALSE(reg.KeyExists("\\SOFTWARE\\Kept"));
    EXPECT_NE(TakeRegistryDamageReport().find((dotfiles / "machine.txt.damaged-").string()), std::string::npos);
    reg.CreateKey("\\SOFTWARE\\Fresh");
    EXPECT_TRUE(std::filesystem::is_symlink(StoreFile()));
    EXPECT_NE(ReadFileText(dotfiles / "machine.txt").find("[\\SOFTWARE\\Fresh]"), std::string::npos);
}

TEST_F(RegistryTest, BatchWritesOnceOnCommitAndNothingWithout)
{
    {
        TRegistry reg;
        reg.CreateKey("\\Before");
    }
    const std::string before = ReadFileText(StoreFile());
    {
        TRegistryBatch batch(TRegistryRoot::LocalMachine);
        TRegistry reg;
        for (int i = 0; i < 50; ++i) {
            ASSERT_TRUE(reg.OpenKey("\\Batch\\Key" + std::to_string(i), true));
            reg.WriteString("n", std::to_string(i));
        }
        EXPECT_TRUE(reg.DeleteKey("\\Before"));
        // Reads inside the batch see its changes; the file does not yet.
        EXPECT_EQ(reg.ReadString("n"), "49");
        EXPECT_EQ(ReadFileText(StoreFile()), before);
        {
            TRegistryBatch inner(TRegistryRoot::LocalMachine);
            reg.CreateKey("\\Inner");
            inner.Commit();
        }
        EXPECT_EQ(ReadFileText(StoreFile()), before);
        batch.Commit();
    }
    TRegistry reg;
    EXPECT_TRUE(reg.KeyExists("\\Batch\\Key0"));
    EXPECT_TRUE(reg.KeyExists("\\Inner"));
    EXPECT_FALSE(reg.KeyExists("\\Before"));
    const std::string committed = ReadFileText(StoreFile());

    {
        TRegistryBatch batch(TRegistryRoot::LocalMachine);
        reg.CreateKey("\\Abandoned");
    }
    EXPECT_FALSE(reg.KeyExists("\\Abandoned"));
    EXPECT_EQ(ReadFileText(StoreFile()), committed);

    // A file that cannot be written fails the commit with the first change's error
    // and leaves the store as it was.
    {
        TRegistryBatch batch(TRegistryRoot::ClassesRoot);
        TRegistry classes(TRegistryRoot::ClassesRoot);
        classes.CreateKey("\\.jpg");
        classes.OpenKey("\\.jpg", false);
        classes.WriteString("", "Korvane.Palvex");
        std::filesystem::create_directory(RegistryStoreFile(TRegistryRoot::ClassesRoot));
        EXPECT_THROW_MSG(batch.Commit(), ERegistryException, "Failed to create key \\.jpg");
        std::filesystem::remove(RegistryStoreFile(TRegistryRoot::ClassesRoot));
        EXPECT_FALSE(classes.KeyExists("\\.jpg"));
    }
}

TEST_F(RegistryTest, KilledBatchLeavesTheOldStoreOrTheNew)
{
    constexpr int kKeys = 300;
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int generation = 1;; ++generation) {
                TRegistryBatch batch(TRegistryRoot::LocalMachine);
                TRegistry reg;
                for (int i = 0; i < kKeys; ++i) {
                    reg.OpenKey("\\Gen\\Key" + std::to_string(i), true);
                    reg.WriteString("g", std::to_string(generation));
                }
                batch.Commit();
            }
        }
        usleep(static_cast<useconds_t>(2000 + (round * 7919) % 40000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        if (!std::filesystem::exists(StoreFile()))
            continue;
        TRegistryKey tree;
        ASSERT_EQ(ParseRegistry(ReadFileText(StoreFile()), tree), 0);
        const TRegistryKey* gen = FindRegistryKey(tree, {"Gen"});
        ASSERT_NE(gen, nullptr);
        ASSERT_EQ(gen->Subkeys.size(), static_cast<size_t>(kKeys));
        for (const TRegistryKey& key : gen->Subkeys)
            EXPECT_EQ(key.Values.at(0).Data, gen->Subkeys[0].Values.at(0).Data) << "round " << round;
    }
    EXPECT_EQ(TakeRegistryDamageReport(), "");
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
