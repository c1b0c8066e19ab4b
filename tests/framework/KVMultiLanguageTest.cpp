#include "framework/KVMultiLanguage.h"

#include "framework/KVLibREG.h"
#include "platform/Errors.h"
#include "platform/Registry.h"
#include "TestMain.h"

#include <fstream>

using namespace palvex;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetRegistryStoreFolder((m_dir.Path() / "Korvane").string());
        RegistryNodeName = "Palvex";
        CurrentLanguage = kLanguageEnglish;
        TextTable.Clear();
    }
    void TearDown() override
    {
        SetRegistryStoreFolder("");
        CurrentLanguage = kLanguageEnglish;
        TextTable.Clear();
    }
    test::TempDir m_dir;
};

} // namespace

TEST(TextTable, PlaceholdersTripleBackslashAndLength)
{
    TextTable.Clear();
    EXPECT_EQ(GetText(52), "<#52>");
    EXPECT_EQ(GetText(1000), "<#1000>");
    SetText(52, "\\\\\\");
    EXPECT_EQ(GetText(52), "");
    SetText(52, "\\\\");
    EXPECT_EQ(GetText(52), "\\\\");
    SetText(1, "Start");
    EXPECT_EQ(GetText(1), "Start");

    // 150 characters are kept, counted as characters: a Czech letter is two bytes.
    std::string czech;
    for (int i = 0; i < 160; ++i)
        czech += "ř";
    SetText(2, czech);
    EXPECT_EQ(TextTable.Get(2).size(), 300u);
    SetText(3, std::string(151, 'a'));
    EXPECT_EQ(TextTable.Get(3), std::string(150, 'a'));

    EXPECT_EQ(GetText(0), "<#0>");
    EXPECT_EQ(GetText(1001), "<#1001>");
    EXPECT_THROW(SetText(0, "x"), EAssertionFailed);
    EXPECT_THROW(SetText(1001, "x"), EAssertionFailed);
    TextTable.Clear();
    EXPECT_EQ(GetText(1), "<#1>");
}

TEST(TextTable, FrameworkTextsFollowTheLanguage)
{
    TextTable.Clear();
    CurrentLanguage = kLanguageCzech;
    FillFrameworkTexts();
    EXPECT_EQ(GetText(907), "Technická podpora:");
    EXPECT_EQ(GetText(933), "Chyba");
    CurrentLanguage = kLanguageEnglish;
    FillFrameworkTexts();
    EXPECT_EQ(GetText(905), "Home Page");
    EXPECT_EQ(GetText(906), "Creates e-mail for Korvane Technical Support");
    EXPECT_EQ(GetText(908), "Czech Republic");
    EXPECT_EQ(GetText(925), "Korvane Technical Support Web Page");
    EXPECT_EQ(GetText(932), "Information");
    EXPECT_EQ(GetText(933), "Error");

    // Another language writes nothing: the entries keep what they held.
    TextTable.Clear();
    CurrentLanguage = 7;
    FillFrameworkTexts();
    EXPECT_EQ(GetText(933), "<#933>");
    CurrentLanguage = kLanguageEnglish;
}

TEST_F(SettingsTest, SettingStringsLiveUnderTheMakersKey)
{
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "");
    EXPECT_FALSE(TRegistry().KeyExists("\\SOFTWARE"));
    WriteSettingString("Palvex\\Language", ":", "0");
    EXPECT_EQ(ReadSettingString("PALVEX\\language", ":"), "0");
    TRegistry reg(TRegistryRoot::LocalMachine);
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\SOFTWARE\\Korvane\\Palvex\\Language"));
    EXPECT_EQ(reg.ReadString(":"), "0");
}

TEST_F(SettingsTest, LanguageLoadAndSave)
{
    EXPECT_FALSE(LoadLanguage());
    EXPECT_EQ(CurrentLanguage, kLanguageEnglish);

    CurrentLanguage = kLanguageCzech;
    SaveLanguage();
    CurrentLanguage = kLanguageEnglish;
    EXPECT_TRUE(LoadLanguage());
    EXPECT_EQ(CurrentLanguage, kLanguageCzech);

    // Another node keeps its own language.
    RegistryNodeName = "OtherProgram";
    CurrentLanguage = kLanguageEnglish;
    EXPECT_FALSE(LoadLanguage());
    SaveLanguage();
    EXPECT_EQ(ReadSettingString("OtherProgram\\Language", ":"), "1");
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "0");

    // A stored value outside 0 and 1 is taken as it is.
    WriteSettingString("OtherProgram\\Language", ":", "5");
    EXPECT_TRUE(LoadLanguage());
    EXPECT_EQ(CurrentLanguage, 5);

    WriteSettingString("OtherProgram\\Language", ":", "abc");
    EXPECT_THROW_MSG(LoadLanguage(), EConvertError, "'abc' is not a valid integer value");
    EXPECT_EQ(CurrentLanguage, 5);
}

TEST_F(SettingsTest, SavingIntoAnUnwritableStoreFails)
{
    std::ofstream(m_dir.Path() / "Korvane") << "a file, not a folder";
    EXPECT_THROW_MSG(SaveLanguage(), ERegistryException, "Failed to create key \\SOFTWARE\\Korvane\\Palvex\\Language");
}
