// The verbs as the classes-root store holds them after an integration.
#include "platform/Errors.h"
#include "shell/ShellIntegration.h"

#include "ShellTestSupport.h"

namespace palvex {
namespace {

using test::PersonsHome;
using test::ReadFileText;

struct ExpectedVerb {
    const char* Key;
    int CheckBox;
    const char* Czech;
    const char* English;
    const char* Options;
};

// Written out here rather than taken from the code: the rows the store must hold.
const char* const kExtensions[41] = {
    "",     ".jpg", ".jpeg", ".gif", ".tif", ".tiff", ".ico", ".bmp", ".emf", ".wmf", ".png",
    ".psp", ".cut", ".pcd",  ".pic", ".cel", ".pbm",  ".pgm", ".ppm", ".pdd", ".psd", ".bw",
    ".rgb", ".rgba", ".sgi", ".rla", ".rpf", ".scr",  ".pcc", ".pcx", ".eps", ".fax", ".icb",
    ".tga", ".vda", ".vst",  ".win", ".dib", ".rle",  ".jpe", ".jfif"};
const int kTypeCheckBoxes[41] = {41, 1,  2,  3,  4,  5,  6,  40, 7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39};

const ExpectedVerb kExpectedVerbs[15] = {
    {"KVPX01", 49, "Palvex: 50%, 800x600", "Palvex: 50%, 800x600", "/keepaspectratio /width=800 /height=600 /quality=50 /process=2"},
    {"KVPX02", 50, "Palvex: 50%, 1024x768", "Palvex: 50%, 1024x768", "/keepaspectratio /width=1024 /height=768 /quality=50 /process=2"},
    {"KVPX03", 51, "Palvex: 50%, 1280x1024", "Palvex: 50%, 1280x1024", "/keepaspectratio /width=1280 /height=1024 /quality=50 /process=2"},
    {"KVPX04", 52, "Palvex: 50%, 1600x1200", "Palvex: 50%, 1600x1200", "/keepaspectratio /width=1600 /height=1200 /quality=50 /process=2"},
    {"KVPX05", 53, "Palvex: 80%, 800x600", "Palvex: 80%, 800x600", "/keepaspectratio /width=800 /height=600 /quality=80 /process=2"},
    {"KVPX06", 54, "Palvex: 80%, 1024x768", "Palvex: 80%, 1024x768", "/keepaspectratio /width=1024 /height=768 /quality=80 /process=2"},
    {"KVPX07", 55, "Palvex: 80%, 1280x1024", "Palvex: 80%, 1280x1024", "/keepaspectratio /width=1280 /height=1024 /quality=80 /process=2"},
    {"KVPX08", 56, "Palvex: 80%, 1600x1200", "Palvex: 80%, 1600x1200", "/keepaspectratio /width=1600 /height=1200 /quality=80 /process=2"},
    {"KVPX09", 57, "Palvex: Fotografie 10x15cm", "Palvex: Picture 10x15cm / 4\"x6\"", "/photo1015"},
    {"KVPX10", 58, "Palvex: Fotografie 13x19cm", "Palvex: Picture 13x19cm / 5\"x7.5\"", "/photo1319"},
    {"KVPX11", 59, "Palvex: Fotografie 15x23cm", "Palvex: Picture 15x23cm / 6\"x9\"", "/photo1523"},
    {"KVPX12", 60, "Palvex: Fotografie 20x30cm", "Palvex: Picture 20x30cm / 8\"x12\"", "/photo2030"},
    {"KVPX13", 61, "Palvex: 4-BASE (fotografie až 10x15cm)", "Palvex: 4-BASE (pictures up to 10x15cm / 4\"x6\")", "/base4"},
    {"KVPX14", 62, "Palvex: 16-BASE (fotografie až 20x30cm)", "Palvex: 16-BASE (pictures up to 20x30cm / 8\"x12\")", "/base16"},
    {"KVPX99", 63, "Palvex: Konvertovat do JPEG, 100% kvalita", "Palvex: Convert to JPEG, 100% quality\"", "/convert"},
};

constexpr const char* kProgram = "/opt/Palvex Apps/palvex";

std::string Value(const std::string& key)
{
    TRegistry reg(TRegistryRoot::ClassesRoot);
    return reg.OpenKeyReadOnly(key) ? reg.ReadString("") : "<no key>";
}

void WriteVerbsInOneBatch(const TIntegrationChoice& choice)
{
    TRegistryBatch batch(TRegistryRoot::ClassesRoot);
    WriteShellVerbs(choice, kProgram);
    batch.Commit();
}

class ShellVerbsTest : public PersonsHome {};

TEST_F(ShellVerbsTest, EveryRowOfBothTablesReachesTheStoreInBothLanguages)
{
    ASSERT_EQ(ShellFileTypes().size(), 41u);
    ASSERT_EQ(ShellVerbs().size(), 15u);
    for (size_t i = 0; i < 41; ++i) {
        EXPECT_STREQ(ShellFileTypes()[i].Extension, kExtensions[i]);
        EXPECT_EQ(ShellFileTypes()[i].CheckBox, kTypeCheckBoxes[i]) << kExtensions[i];
    }
    for (size_t v = 0; v < 15; ++v)
        EXPECT_EQ(ShellVerbs()[v].CheckBox, kExpectedVerbs[v].CheckBox) << kExpectedVerbs[v].Key;

    for (const int language : {kLanguageCzech, kLanguageEnglish}) {
        SetLanguage(language);
        WriteVerbsInOneBatch(FullIntegrationChoice());
        TRegistryBatch reading(TRegistryRoot::ClassesRoot);
        for (const char* extension : kExtensions) {
            const std::string type = extension[0] ? "\\Korvane.Palvex" : "\\Directory";
            if (extension[0]) {
                EXPECT_EQ(Value(std::string("\\") + extension), "Korvane.Palvex") << extension;
            }
            for (const ExpectedVerb& verb : kExpectedVerbs) {
                const std::string key = type + "\\Shell\\" + verb.Key;
                EXPECT_EQ(Value(key), std::string("O»o ") + (language == kLanguageCzech ? verb.Czech : verb.English));
                EXPECT_EQ(Value(key + "\\Command"),
                          std::string("\"") + kProgram + "\" \"%1\" " + verb.Options + (extension[0] ? "" : " /folder"));
            }
        }
    }
    // The key names keep their capitalisation in the store.
    const std::string text = ReadFileText(RegistryStoreFile(TRegistryRoot::ClassesRoot));
    EXPECT_NE(text.find("[\\Directory\\Shell\\KVPX99\\Command]\n@=\"\\\"/opt/Palvex Apps/palvex\\\" \\\"%1\\\" /convert /folder\"\n"),
              std::string::npos);
}

TEST_F(ShellVerbsTest, ExtensionsKeepTheirTypesAndRemovalKeepsWhatIntegrationCreated)
{
    TRegistry reg(TRegistryRoot::ClassesRoot);
    for (const auto& [extension, type] : {std::pair{"\\.jpg", "jpegfile"}, {"\\.jpeg", "jpegfile"}, {"\\.png", ""},
                                          {"\\.tif", "tiffile"}}) {
        ASSERT_TRUE(reg.OpenKey(extension, true));
        reg.WriteString("", type);
    }
    TIntegrationChoice choice;
    for (const int type : {1, 2, 3, 4, 10}) // .jpg .jpeg .gif .tif .png
        choice.FileTypes[static_cast<size_t>(type)] = true;
    choice.Verbs[0] = true;
    WriteVerbsInOneBatch(choice);

    EXPECT_EQ(Value("\\.jpg"), "jpegfile");
    EXPECT_EQ(Value("\\.png"), "Korvane.Palvex");
    EXPECT_EQ(Value("\\.gif"), "Korvane.Palvex");
    EXPECT_EQ(Value("\\jpegfile\\Shell\\KVPX01\\Command"),
              std::string("\"") + kProgram + "\" \"%1\" " + kExpectedVerbs[0].Options);
    ASSERT_TRUE(reg.OpenKey("\\jpegfile\\Shell", false));
    EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"KVPX01"});
    EXPECT_FALSE(reg.KeyExists("\\Directory"));

    // Another program takes .tif over; the verbs under its old type are no longer found.
    ASSERT_TRUE(reg.OpenKey("\\.tif", false));
    reg.WriteString("", "newtiff");
    WriteVerbsInOneBatch(TIntegrationChoice{});
    EXPECT_FALSE(reg.KeyExists("\\jpegfile\\Shell\\KVPX01"));
    EXPECT_FALSE(reg.KeyExists("\\Korvane.Palvex\\Shell\\KVPX01"));
    EXPECT_TRUE(reg.KeyExists("\\tiffile\\Shell\\KVPX01\\Command"));
    EXPECT_TRUE(reg.KeyExists("\\Korvane.Palvex\\Shell"));
    EXPECT_EQ(Value("\\.gif"), "Korvane.Palvex");
}

TEST_F(ShellVerbsTest, FailedIntegrationLeavesTheStoreAndTheEntriesAsTheyWere)
{
    const TFileManagerFolders folders = UserFileManagerFolders();
    IntegrateShell(DefaultIntegrationChoice(), kProgram, folders);
    TRegistry reg(TRegistryRoot::ClassesRoot);
    ASSERT_TRUE(reg.OpenKey("\\.gif", true));
    reg.WriteString("", "broken\ntype");
    const std::string store = ReadFileText(RegistryStoreFile(TRegistryRoot::ClassesRoot));
    const auto entries = test::Snapshot(Data());

    EXPECT_THROW_MSG(IntegrateShell(FullIntegrationChoice(), kProgram, folders), ERegistryException,
                     "Failed to create key \\broken\ntype");
    EXPECT_EQ(ReadFileText(RegistryStoreFile(TRegistryRoot::ClassesRoot)), store);
    EXPECT_EQ(test::Snapshot(Data()), entries);

    // A store that cannot be written at all raises the first key's error.
    std::filesystem::remove_all(RegistryStoreFolder());
    test::WriteFile(RegistryStoreFolder(), "a file where the folder belongs");
    EXPECT_THROW_MSG(IntegrateShell(DefaultIntegrationChoice(), kProgram, folders), ERegistryException,
                     "Failed to create key \\Directory");
}

} // namespace
} // namespace palvex
