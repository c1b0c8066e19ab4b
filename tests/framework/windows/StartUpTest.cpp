// The application component's start-up: the stored language or the chooser.
#include "framework/windows/KVLibApp.h"

#include "WindowsTestSupport.h"
#include "framework/KVLibREG.h"
#include "framework/KVMultiLanguage.h"
#include "framework/windows/FormChooseLanguage.h"
#include "platform/Errors.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

using namespace palvex;

namespace {

class StartUpTest : public test::WindowsTest {
protected:
    void SetUp() override
    {
        test::WindowsTest::SetUp();
        m_component.RegistryNode = "Palvex";
    }

    // The chooser, when it comes up, gets row picked (-1 for none) and OK.
    void ChooseOnFirstStart(int row)
    {
        m_onModal = [this, row](QDialog& dialog) {
            auto* chooser = qobject_cast<TFormChooseLanguage*>(&dialog);
            ASSERT_NE(chooser, nullptr);
            m_chooserTitle = chooser->Label3->text();
            if (row >= 0)
                chooser->ListView1->setCurrentRow(row);
            chooser->Button1->click();
        };
    }

    QWidget m_main;
    TKVApplication m_component{&m_main};
    QString m_chooserTitle;
};

} // namespace

TEST_F(StartUpTest, FirstStartAsksThenTheNextStartUsesTheStoredLanguage)
{
    EXPECT_EQ(m_main.windowTitle(), "Korvane Palvex");
    m_main.setWindowTitle("changed");

    ChooseOnFirstStart(0);
    m_component.StartUp();
    EXPECT_EQ(m_modalClasses, std::vector<std::string>{"palvex::TFormChooseLanguage"});
    EXPECT_EQ(m_chooserTitle, "Korvane Palvex");
    EXPECT_EQ(CurrentLanguage, kLanguageCzech);
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "0");
    // The framework texts are there in the chosen language, and the caption is the title again.
    EXPECT_EQ(GetText(933), "Chyba");
    EXPECT_EQ(GetText(907), "Technická podpora:");
    EXPECT_EQ(m_main.windowTitle(), "Korvane Palvex");

    // The next run: the language comes from the store, no chooser.
    CurrentLanguage = kLanguageEnglish;
    m_modalClasses.clear();
    QWidget nextMain;
    TKVApplication next(&nextMain);
    next.RegistryNode = "Palvex";
    next.StartUp();
    EXPECT_TRUE(m_modalClasses.empty());
    EXPECT_EQ(CurrentLanguage, kLanguageCzech);
}

TEST_F(StartUpTest, ChooserWithoutSelectionGivesEnglish)
{
    ChooseOnFirstStart(-1);
    m_component.StartUp();
    EXPECT_EQ(CurrentLanguage, kLanguageEnglish);
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "1");
    EXPECT_EQ(GetText(932), "Information");
}

TEST_F(StartUpTest, StoredTextThatIsNotANumberRaisesAndAsksNothing)
{
    WriteSettingString("Palvex\\Language", ":", "abc");
    EXPECT_THROW_MSG(m_component.StartUp(), EConvertError, "'abc' is not a valid integer value");
    EXPECT_TRUE(m_modalClasses.empty());
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "abc");
}

TEST_F(StartUpTest, OtherLanguageNumberIsKeptAndFillsNoTexts)
{
    WriteSettingString("Palvex\\Language", ":", "7");
    m_component.StartUp();
    EXPECT_TRUE(m_modalClasses.empty());
    EXPECT_EQ(CurrentLanguage, 7);
    EXPECT_EQ(GetText(933), "<#933>");
}

TEST_F(StartUpTest, EachRegistryNodeKeepsItsOwnLanguage)
{
    WriteSettingString("Palvex\\Language", ":", "0");
    QWidget otherMain;
    TKVApplication other(&otherMain);
    other.RegistryNode = "Fotoskop";
    ChooseOnFirstStart(1);
    CurrentLanguage = kLanguageCzech;
    other.StartUp();
    EXPECT_EQ(m_modalClasses, std::vector<std::string>{"palvex::TFormChooseLanguage"});
    EXPECT_EQ(CurrentLanguage, kLanguageEnglish);
    EXPECT_EQ(ReadSettingString("Fotoskop\\Language", ":"), "1");
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "0");

    m_modalClasses.clear();
    m_component.StartUp();
    EXPECT_TRUE(m_modalClasses.empty());
    EXPECT_EQ(CurrentLanguage, kLanguageCzech);
    EXPECT_EQ(RegistryNodeName, "Palvex");
}
