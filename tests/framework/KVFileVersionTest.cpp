#include "framework/KVFileVersion.h"

#include "framework/KVLibEXE.h"
#include "framework/KVLibREG.h"
#include "framework/MakerInfo.h"
#include "platform/SystemInfo.h"
#include "TestMain.h"

#include <fstream>

using namespace palvex;

namespace {

std::string WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

} // namespace

TEST(FileVersion, ReadsTheEmbeddedRecord)
{
    test::TempDir dir;
    // The record sits at an odd offset across the first 1 MiB read.
    const std::string file = WriteFile(dir.Path() / "prog", std::string((1 << 20) - 11, 'x') +
                                                                EncodeVersionRecord(1, 2, 3, 45) + "tail");
    TFileVersion version;
    ASSERT_TRUE(version.LoadFromFile(file));
    EXPECT_EQ(version.VersionText(), "1.2.3");
    EXPECT_EQ(version.Major(), 1);
    EXPECT_EQ(version.Minor(), 2);
    EXPECT_EQ(version.Release(), 3);
    EXPECT_EQ(version.Build(), 45);
    EXPECT_EQ(VersionTextOfFile(file), "version 1.2.3 build 45");

    int build = 0;
    int major = 0;
    EXPECT_TRUE(ReadVersionNumbers(WriteFile(dir.Path() / "big", EncodeVersionRecord(65535, 0, 10, 300)), &major,
                                   nullptr, nullptr, &build));
    EXPECT_EQ(major, 65535);
    EXPECT_EQ(build, 300);
}

TEST(FileVersion, FileWithoutRecordGivesEmptyVersion)
{
    test::TempDir dir;
    std::string broken = EncodeVersionRecord(1, 2, 3, 45);
    broken[20] ^= 1; // the check bytes no longer match
    TFileVersion version;
    ASSERT_TRUE(version.LoadFromFile(WriteFile(dir.Path() / "ok", EncodeVersionRecord(9, 9, 9, 9))));
    EXPECT_FALSE(version.LoadFromFile(WriteFile(dir.Path() / "broken", "abc" + broken)));
    EXPECT_EQ(version.VersionText(), "");
    EXPECT_EQ(version.Build(), 0);
    EXPECT_EQ(version.Major(), 0);
    EXPECT_EQ(VersionTextOfFile(dir.Path() / "broken"), "version  build 0");
    EXPECT_EQ(VersionTextOfFile(dir.Path() / "missing"), "version  build 0");
    EXPECT_EQ(VersionTextOfFile(WriteFile(dir.Path() / "empty", "")), "version  build 0");
    // A record cut short at the end of the file is not read.
    EXPECT_EQ(VersionTextOfFile(WriteFile(dir.Path() / "cut", EncodeVersionRecord(1, 2, 3, 4).substr(0, 31))),
              "version  build 0");
}

TEST(FileVersion, RunningProgramCarriesTheProjectVersion)
{
    EXPECT_EQ(GetVersionText(), "version 1.0.0 build 1");
}

TEST(SystemText, NameAndVersionFromOsRelease)
{
    EXPECT_EQ(SystemTextFromOsRelease("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
                                      "VERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\nID=debian\n"),
              "Debian GNU/Linux (version 12 (bookworm))");
    EXPECT_EQ(SystemTextFromOsRelease("# comment\nNAME=Fedora\nVERSION_ID=39\n"), "Fedora (version 39)");
    EXPECT_EQ(SystemTextFromOsRelease("NAME='Single \"quoted\"'\nVERSION=\"a \\\"b\\\" \\$c\"\n"),
              "Single \"quoted\" (version a \"b\" $c)");
    EXPECT_EQ(SystemTextFromOsRelease(""), " (version )");
    EXPECT_NE(GetSystemText().find(" (version "), std::string::npos);
}

TEST(Mail, TitleStoreKeyAndMakerTextsComeFromTheMakersName)
{
    EXPECT_EQ(ApplicationTitle(), "Korvane Palvex");
    EXPECT_EQ(std::string(kSettingsKey), "\\SOFTWARE\\Korvane\\");
    EXPECT_EQ(std::string(kMakerCompany), "Korvane s.r.o.");
    EXPECT_EQ(std::string_view(kSupportMailSubject), "Žádost o technickou podporu Korvane");
}

TEST(Mail, AddressAndSupportBodyAreExact)
{
    EXPECT_EQ(SupportMailBody("Korvane Palvex", "version 1.0.0 build 1", "Debian GNU/Linux (version 12)"),
              "product:%09%09%09Korvane Palvex%0D%0Aversion:%09%09%09version 1.0.0 build 1%0D%0A"
              "osver:%09%09%09Debian GNU/Linux (version 12)%0D%0Acategory:%09%09%09unspecified <by e-mail>%0D%0A"
              "question: %0D%0A%0D%0A%0D%0A");
    EXPECT_EQ(MailtoAddress("support@korvane.example", "Žádost o technickou podporu Korvane", "a%09b"),
              "mailto:support@korvane.example?subject=Žádost o technickou podporu Korvane&body=a%09b");

    std::vector<std::string> opened;
    SetShellOpenHandler([&](const std::string& address) { opened.push_back(address); });
    ComposeMail("a@b.example", "s", "b");
    OpenAddress("https://www.korvane.example/");
    SetShellOpenHandler(nullptr);
    OpenAddress("nobody hears this");
    EXPECT_EQ(opened, (std::vector<std::string>{"mailto:a@b.example?subject=s&body=b", "https://www.korvane.example/"}));
}
