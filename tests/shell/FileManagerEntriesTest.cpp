// What the file managers read, written into a person's home and taken out again.
#include "shell/EntryCommand.h"
#include "shell/MimeGlobs.h"
#include "shell/ShellIntegration.h"
#include "shell/ThunarActions.h"

#include "ShellTestSupport.h"

#include <regex>

namespace palvex {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::RunProgram;
using test::WriteFile;

constexpr const char* kUsersActions =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<actions>\r\n<action>\r\n\t<icon>utilities-terminal</icon>\r\n"
    "\t<name>Open Terminal Here</name>\r\n\t<unique-id>1290672201592009-1</unique-id>\r\n"
    "\t<command>exo-open --working-directory %f --launch TerminalEmulator</command>\r\n"
    "\t<patterns>*</patterns>\r\n\t<directories/>\r\n</action>\r\n<!-- </actions> -->\r\n  </actions>";

// desktop-file-validate knows neither KDE's service menus nor FileManager-Actions;
// these are the only complaints each may draw.
const std::vector<std::string> kServiceMenuDialect = {
    "key \"MimeType\" is present in group \"Desktop Entry\", but the type is \"Service\" while this key is only valid for type \"Application\"",
    "key \"Actions\" is present in group \"Desktop Entry\", but the type is \"Service\" while this key is only valid for type \"Application\""};
const std::vector<std::string> kActionDialect = {
    "value \"Action\" for key \"Type\" in group \"Desktop Entry\" is not a registered type value (\"Application\", \"Link\" and \"Directory\")",
    "file contains key \"Profiles\" in group \"Desktop Entry\", but keys extending the format should start with \"X-\""};

class FileManagerEntriesTest : public test::PersonsHome {
protected:
    void ExpectValid(const fs::path& file, const std::vector<std::string>& dialect)
    {
        const test::TRunResult result = RunProgram({"desktop-file-validate", file.string()}, Scratch());
        ASSERT_NE(result.ExitCode, 127) << "desktop-file-validate is missing (package desktop-file-utils)";
        std::string expected;
        for (const std::string& line : dialect)
            expected += file.string() + ": error: " + line + "\n";
        EXPECT_EQ(result.Out + result.Err, expected);
    }

    std::vector<std::string> Names(const fs::path& folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(FileManagerEntriesTest, IntegrateAgainThenRemoveLeavesThePersonsFilesAsTheyWere)
{
    const fs::path uca = Home() / ".config/Thunar/uca.xml";
    WriteFile(uca, kUsersActions);
    WriteFile(Data() / "nemo/actions/mine.nemo_action", "[Nemo Action]\nName=Mine\n");
    WriteFile(Data() / "nautilus/scripts/Palvex/my own script", "#!/bin/sh\n");
    const auto before = test::Snapshot(Home());

    IntegrateShell(DefaultIntegrationChoice(), "/opt/Palvex Apps/palvex", UserFileManagerFolders());
    const fs::path menu = Data() / "kio/servicemenus/palvex-integration.desktop";
    ExpectValid(menu, kServiceMenuDialect);
    EXPECT_TRUE((fs::status(menu).permissions() & fs::perms::owner_exec) != fs::perms::none);
    const std::string menuText = ReadFileText(menu);
    EXPECT_NE(menuText.find("\nMimeType=image/jpeg;image/tiff;image/bmp;inode/directory;\n"), std::string::npos) << menuText;
    EXPECT_NE(menuText.find("\nActions=KVPX05;KVPX09;KVPX99;\nX-KDE-Submenu=Palvex\n"), std::string::npos);
    EXPECT_NE(menuText.find("\nName=Palvex: Picture 10x15cm / 4\"x6\"\nIcon=cz.korvane.Palvex\n"
                            "Exec=\"/opt/Palvex Apps/palvex\" --selection /photo1015 -- %F\n"),
              std::string::npos);
    for (const char* key : {"kvpx05", "kvpx09", "kvpx99"})
        ExpectValid(Data() / "file-manager/actions" / (std::string("palvex-") + key + ".desktop"), kActionDialect);
    EXPECT_EQ(Names(Data() / "nemo/actions"), (std::vector<std::string>{"mine.nemo_action", "palvex-kvpx05.nemo_action",
                                                                        "palvex-kvpx09.nemo_action", "palvex-kvpx99.nemo_action"}));
    EXPECT_NE(ReadFileText(Data() / "nemo/actions/palvex-kvpx05.nemo_action").find("\nExtensions=jpg;jpeg;tif;tiff;bmp;jpe;jfif;dir;\n"),
              std::string::npos);
    EXPECT_EQ(Names(Data() / "nautilus/scripts/Palvex"),
              (std::vector<std::string>{"Palvex: 80%, 800x600", "Palvex: Convert to JPEG, 100% quality\"",
                                        "Palvex: Picture 10x15cm \xE2\x88\x95 4\"x6\"", "my own script"}));
    const std::string merged = ReadFileText(uca);
    EXPECT_EQ(RunProgram({"xmllint", "--noout", uca.string()}, Scratch()).ExitCode, 0) << merged;
    const std::string usersAction = kUsersActions;
    EXPECT_NE(merged.find(usersAction.substr(0, usersAction.find("<!--"))), std::string::npos);
    EXPECT_NE(merged.find("<unique-id>palvex-kvpx99-folders</unique-id>"), std::string::npos);

    // Another choice in the other language: the old entries are gone.
    SetLanguage(kLanguageCzech);
    TIntegrationChoice other;
    other.FileTypes[10] = true; // .png
    other.Verbs[12] = true;     // 4-BASE
    IntegrateShell(other, "/usr/bin/palvex", UserFileManagerFolders());
    EXPECT_EQ(Names(Data() / "nemo/actions"), (std::vector<std::string>{"mine.nemo_action", "palvex-kvpx13.nemo_action"}));
    EXPECT_EQ(Names(Data() / "nautilus/scripts/Palvex"),
              (std::vector<std::string>{"Palvex: 4-BASE (fotografie až 10x15cm)", "my own script"}));
    EXPECT_NE(ReadFileText(menu).find("\nMimeType=image/png;\nActions=KVPX13;\n"), std::string::npos);
    const std::string again = ReadFileText(uca);
    EXPECT_EQ(std::regex_search(again, std::regex("palvex-kvpx(05|09|99)")), false);
    EXPECT_NE(again.find("<name>Palvex: 4-BASE (fotografie až 10x15cm)</name>"), std::string::npos);

    RemoveShellIntegration(UserFileManagerFolders());
    auto after = test::Snapshot(Home());
    for (const char* storeFile : {".config/Korvane", ".config/Korvane/HKEY_CLASSES_ROOT.txt",
                                  ".config/Korvane/HKEY_CLASSES_ROOT.txt.lock"})
        after.erase(storeFile);
    EXPECT_EQ(after, before);
}

TEST_F(FileManagerEntriesTest, ThunarMergeTakesOutExactlyWhatItPutIn)
{
    const std::string ours = ThunarAction("palvex-kvpx01", "A & <b>", "palvex", "/p -- %F", "*.jpg", {"image-files"});
    for (const std::string& original :
         {std::string(kEmptyThunarActions), std::string(kUsersActions),
          std::string("<actions><action><unique-id>palvex-mine</unique-id></action></actions>"),
          std::string("<?xml version=\"1.0\"?>\n<actions>\n<action>\n<name>x</name>\n</action>\n\t</actions>\n")}) {
        const std::optional<std::string> merged = WithActionsAdded(original, ours + ours);
        ASSERT_TRUE(merged);
        EXPECT_NE(merged->find("<name>A &amp; &lt;b&gt;</name>"), std::string::npos);
        EXPECT_EQ(WithoutPalvexActions(*merged), original);
        // Thunar writes the file anew with its own indentation when its dialog saves.
        const std::string indented = std::regex_replace(*merged, std::regex("\n<action>"), "\n  <action>");
        EXPECT_EQ(WithoutPalvexActions(indented).find("palvex-kvpx"), std::string::npos);
    }
    EXPECT_FALSE(WithActionsAdded("<actions/>", ours));
    EXPECT_FALSE(WithActionsAdded("<!-- </actions> -->", ours));
}

TEST(MimeGlobs, PlainPictureGlobsOnly)
{
    std::map<std::string, std::vector<std::string>> types;
    ReadPictureGlobs("# comment\n50:image/x-tga:*.vst\n50:application/vnd.visio:*.vst\n50:image/jpeg:*.JPG:cs\n"
                     "50:image/x-a:*.[ab]\n50:image/x-b:README*\n50:image/jpeg:*.jpg\nbroken line\n",
                     types);
    EXPECT_EQ(types, (std::map<std::string, std::vector<std::string>>{{"jpg", {"image/jpeg"}}, {"vst", {"image/x-tga"}}}));
}

#ifdef PALVEX_CLI_PATH

// A 2x2 24-bit BMP.
std::string SmallBmp()
{
    std::string bmp = "BM";
    const auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) bmp += static_cast<char>(v >> (8 * i)); };
    const auto u16 = [&](uint16_t v) { bmp += static_cast<char>(v); bmp += static_cast<char>(v >> 8); };
    u32(70); u32(0); u32(54); u32(40); u32(2); u32(2); u16(1); u16(24); u32(0); u32(16); u32(0); u32(0); u32(0); u32(0);
    bmp += std::string("\x10\x20\xF0\x30\x40\x50\0\0\x90\xA0\xB0\xC0\xD0\xE0\0\0", 16);
    return bmp;
}

// The words of a command as a shell-like splitter reads them, with the selected paths for %F.
std::vector<std::string> Expand(const std::string& command, const std::vector<std::string>& paths,
                                const fs::path& scratch)
{
    std::string line = "for w in ";
    std::string rest = command;
    rest.replace(rest.find("%F"), 2, "\"$@\"");
    line += rest + "; do printf '%s\\0' \"$w\"; done";
    std::vector<std::string> argv{"sh", "-c", line, "sh"};
    argv.insert(argv.end(), paths.begin(), paths.end());
    const std::string out = RunProgram(argv, scratch).Out;
    std::vector<std::string> words;
    for (size_t start = 0; start < out.size();) {
        const size_t end = out.find('\0', start);
        words.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

std::string KeyOf(const std::string& text, const std::string& key)
{
    std::smatch match;
    std::regex_search(text, match, std::regex("\n" + key + "=([^\n]*)"));
    return std::regex_replace(match[1].str(), std::regex(R"(\\\\)"), "\\");
}

// Output file names and bytes of a folder, sources left out.
std::map<std::string, std::string> Outputs(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find('_') != std::string::npos)
            files[entry.path().filename().string()] = ReadFileText(entry.path());
    return files;
}

TEST_F(FileManagerEntriesTest, EveryEntryRunsThePresetOnExactlyTheSelectedPaths)
{
    // A program path and a picture name that need quoting; folders named like options.
    const std::string program = (Scratch() / "bin $dir/palvex").string();
    const fs::path pictures = Scratch() / "width";
    const fs::path folder = Scratch() / "folder";
    const fs::path picture = pictures / "a \"b\" $x.bmp";
    WriteFile(picture, SmallBmp());
    fs::create_directories(folder);
    ASSERT_EQ(RunProgram({PALVEX_CLI_PATH, picture.string(), "/convert"}, Scratch()).ExitCode, 0);
    fs::rename(pictures / "a \"b\" $x_2x2_100q.jpg", folder / "c.jpg");
    IntegrateShell(FullIntegrationChoice(), program, UserFileManagerFolders());
    const std::vector<std::string> selection{picture.string(), folder.string()};

    const std::string menu = ReadFileText(Data() / "kio/servicemenus/palvex-integration.desktop");
    const std::string uca = ReadFileText(Home() / ".config/Thunar/uca.xml");
    const std::vector<TStoredVerb> verbs = ReadStoredVerbs(FullIntegrationChoice());
    ASSERT_EQ(verbs.size(), 15u);
    for (const TStoredVerb& verb : verbs) {
        std::vector<std::string> expected{program, "--selection"};
        expected.insert(expected.end(), verb.Options.begin(), verb.Options.end());
        expected.push_back("--");
        expected.insert(expected.end(), selection.begin(), selection.end());
        const std::string id = "palvex-kvpx" + verb.Key.substr(4);
        const std::string menuExec = KeyOf(menu.substr(menu.find("[Desktop Action " + verb.Key + "]")), "Exec");
        EXPECT_EQ(Expand(menuExec, selection, Scratch()), expected) << "Dolphin " << verb.Key;
        EXPECT_EQ(Expand(KeyOf(ReadFileText(Data() / "nemo/actions" / (id + ".nemo_action")), "Exec"), selection, Scratch()),
                  expected) << "Nemo " << verb.Key;
        EXPECT_EQ(Expand(KeyOf(ReadFileText(Data() / "file-manager/actions" / (id + ".desktop")), "Exec"), selection, Scratch()),
                  expected) << "FileManager-Actions " << verb.Key;
        std::smatch thunar;
        ASSERT_TRUE(std::regex_search(uca, thunar, std::regex("<unique-id>" + id + "</unique-id>\n\t<command>([^<]*)<")));
        EXPECT_EQ(Expand(std::regex_replace(thunar[1].str(), std::regex("&quot;"), "\""), selection, Scratch()), expected)
            << "Thunar " << verb.Key;
    }

    // Nautilus offers every script for everything: a script keeps what it is for.
    WriteFile(program, "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$(dirname \"$0\")/args\"\n");
    fs::permissions(program, fs::perms::owner_all);
    const fs::path script = Data() / "nautilus/scripts/Palvex/Palvex: 50%, 800x600";
    RunProgram({script.string(), (pictures / "notes.txt").string()}, Scratch());
    EXPECT_FALSE(fs::exists(Scratch() / "bin $dir/args"));
    RunProgram({script.string(), (pictures / "notes.txt").string(), picture.string(), folder.string()}, Scratch());
    std::string expectedArgs;
    for (const char* word :
         {"--selection", "/keepaspectratio", "/width=800", "/height=600", "/quality=50", "/process=2", "--"})
        expectedArgs += std::string(word) + '\0';
    expectedArgs += picture.string() + '\0' + folder.string() + '\0';
    EXPECT_EQ(ReadFileText(Scratch() / "bin $dir/args"), expectedArgs);

    // The program takes the entry's arguments apart into one usual run per path;
    // together they write what palvex-cli writes with the store's commands.
    for (const TStoredVerb& verb : {verbs[0], verbs[14]}) {
        std::vector<std::string> arguments{"--selection"};
        arguments.insert(arguments.end(), verb.Options.begin(), verb.Options.end());
        arguments.push_back("--");
        arguments.insert(arguments.end(), selection.begin(), selection.end());
        const auto runs = EntryRuns(arguments);
        ASSERT_TRUE(runs && runs->size() == 2);
        for (const std::vector<std::string>& run : *runs) {
            std::vector<std::string> argv{PALVEX_CLI_PATH};
            argv.insert(argv.end(), run.begin(), run.end());
            ASSERT_EQ(RunProgram(argv, Scratch()).ExitCode, 0);
        }
        const auto viaEntry = std::pair{Outputs(pictures), Outputs(folder)};
        for (const fs::path& where : {pictures, folder})
            for (const auto& [name, bytes] : Outputs(where))
                fs::remove(where / name);
        for (const std::string& path : selection) {
            std::vector<std::string> argv{PALVEX_CLI_PATH, path};
            argv.insert(argv.end(), verb.Options.begin(), verb.Options.end());
            if (path == folder.string())
                argv.push_back("/folder");
            ASSERT_EQ(RunProgram(argv, Scratch()).ExitCode, 0);
        }
        EXPECT_EQ(std::pair(Outputs(pictures), Outputs(folder)), viaEntry) << verb.Key;
        EXPECT_EQ(viaEntry.first.size() + viaEntry.second.size(), 2u) << verb.Key;
        for (const fs::path& where : {pictures, folder})
            for (const auto& [name, bytes] : Outputs(where))
                fs::remove(where / name);
    }
}

TEST_F(FileManagerEntriesTest, CommandLineIntegratesRemovesAndTellsOfADamagedStore)
{
    WriteFile(Home() / ".config/Korvane/HKEY_LOCAL_MACHINE.txt", "[\\SOFTWARE\\Korvane\\Palvex\\Language]\n\":\"=\n");
    const test::TRunResult integrated = RunProgram({PALVEX_CLI_PATH, "--integrate"}, Scratch());
    EXPECT_EQ(integrated.ExitCode, 0) << integrated.Err;
    EXPECT_NE(integrated.Err.find("palvex-cli: The settings file \"" + (Home() / ".config/Korvane/HKEY_LOCAL_MACHINE.txt").string() +
                                  "\" was damaged at line 2. It was kept as \""),
              std::string::npos) << integrated.Err;
    const std::string sibling = (fs::path(PALVEX_CLI_PATH).parent_path() / "palvex").string();
    EXPECT_EQ(ReadStoredVerbs(DefaultIntegrationChoice()).size(), 3u);
    EXPECT_EQ(ReadStoredVerbs(DefaultIntegrationChoice()).at(0).Program, sibling);
    EXPECT_TRUE(fs::exists(Data() / "kio/servicemenus/palvex-integration.desktop"));

    const test::TRunResult removed = RunProgram({PALVEX_CLI_PATH, "--remove-integration"}, Scratch());
    EXPECT_EQ(removed.ExitCode, 0);
    EXPECT_EQ(removed.Err, "");
    EXPECT_FALSE(fs::exists(Data()));
    EXPECT_EQ(RunProgram({PALVEX_CLI_PATH, "--remove-integration", "--all"}, Scratch()).ExitCode, 2);

    // --system as anyone but root says so and writes nothing.
    std::vector<std::string> asNobody{PALVEX_CLI_PATH, "--integrate", "--system"};
    if (::geteuid() == 0)
        asNobody.insert(asNobody.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const test::TRunResult refused = RunProgram(asNobody, Scratch());
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_NE(refused.Err.find("--system writes the system-wide folders (/usr/share, /etc/xdg) and needs root"),
              std::string::npos) << refused.Err;
}

#endif

} // namespace
} // namespace palvex
