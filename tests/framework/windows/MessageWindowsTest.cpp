// The message window and the language chooser.
#include "framework/windows/FormChooseLanguage.h"
#include "framework/windows/KVAppShowInfo.h"

#include "WindowsTestSupport.h"
#include "framework/KVLibREG.h"
#include "framework/KVMultiLanguage.h"
#include "framework/windows/FrameworkColors.h"
#include "framework/windows/KVLibApp.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

using namespace palvex;

namespace {

using MessageWindowTest = test::WindowsTest;

std::string StoredLanguage(const std::string& node) { return ReadSettingString(node + "\\Language", ":"); }

class ChooserTest : public test::WindowsTest {
protected:
    void ShowChooser()
    {
        m_chooser.show();
        QCoreApplication::processEvents();
    }
    QRect EntryRect(int row) const { return m_chooser.ListView1->visualItemRect(m_chooser.ListView1->item(row)); }

    TFormChooseLanguage m_chooser;
};

} // namespace

TEST_F(MessageWindowTest, ErrorIsRedWithText933AndInformationNavyWith932)
{
    QWidget main;
    TKVApplication component(&main);
    component.RefreshTexts();
    const QString longMessage = QString("A message long enough to need more than one line in the window. ").repeated(2);
    m_onModal = [&](QDialog& dialog) {
        auto* window = qobject_cast<TFormInformation*>(&dialog);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->size(), QSize(364, 155));
        EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
        EXPECT_EQ(window->Label1->size(), QSize(329, 73));
        EXPECT_TRUE(window->Button1->isDefault());
        if (window->IsError()) {
            EXPECT_EQ(window->palette().color(QPalette::Window), QColor(225, 0, 0));
            EXPECT_EQ(window->Label3->text(), "Error");
            EXPECT_EQ(window->Label1->text(), "Disk full");
        } else {
            EXPECT_EQ(window->palette().color(QPalette::Window), kNavy);
            EXPECT_EQ(window->Label3->text(), "Information");
            EXPECT_EQ(window->Label1->text(), longMessage);
        }
        test::Click(window->Button1);
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(window->result(), QDialog::Accepted);
    };
    component.ShowError("Disk full");
    component.ShowInformation(longMessage);
    EXPECT_EQ(m_modalClasses, (std::vector<std::string>{"palvex::TFormInformation", "palvex::TFormInformation"}));

    // In Czech the titles follow once the texts are refreshed.
    CurrentLanguage = kLanguageCzech;
    component.RefreshTexts();
    m_onModal = [](QDialog& dialog) { EXPECT_EQ(static_cast<TFormInformation&>(dialog).Label3->text(), "Chyba"); };
    component.ShowError("x");
}

TEST_F(ChooserTest, TwoEntriesWithPicturesNothingSelectedOkIsTheOnlyButton)
{
    ShowChooser();
    ASSERT_EQ(m_chooser.ListView1->count(), 2);
    EXPECT_EQ(m_chooser.ListView1->item(0)->text(), "Česky");
    EXPECT_EQ(m_chooser.ListView1->item(1)->text(), "English");
    for (int row = 0; row < 2; ++row) {
        const QIcon icon = m_chooser.ListView1->item(row)->icon();
        ASSERT_FALSE(icon.isNull());
        EXPECT_FALSE(icon.pixmap(16).isNull()) << "picture " << row;
        EXPECT_EQ(icon.availableSizes(), QList<QSize>{QSize(16, 16)});
    }
    // The two pictures differ.
    EXPECT_NE(m_chooser.ListView1->item(0)->icon().pixmap(16).toImage(),
              m_chooser.ListView1->item(1)->icon().pixmap(16).toImage());
    EXPECT_TRUE(m_chooser.ListView1->selectedItems().isEmpty());

    const QList<QPushButton*> buttons = m_chooser.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons.front(), m_chooser.Button1);
    EXPECT_TRUE(m_chooser.Button1->isDefault());

    // Escape does not get past the chooser.
    m_chooser.reject();
    EXPECT_TRUE(m_chooser.isVisible());

    // Showing again starts over with two entries.
    m_chooser.hide();
    ShowChooser();
    EXPECT_EQ(m_chooser.ListView1->count(), 2);
}

TEST_F(ChooserTest, OkWithoutSelectionStoresTheUnchangedLanguage)
{
    ShowChooser();
    test::Click(m_chooser.Button1);
    EXPECT_FALSE(m_chooser.isVisible());
    EXPECT_EQ(m_chooser.result(), QDialog::Accepted);
    EXPECT_EQ(CurrentLanguage, kLanguageEnglish);
    EXPECT_EQ(StoredLanguage("Palvex"), "1");
}

TEST_F(ChooserTest, ASelectedEntryIsTakenAndSaved)
{
    ShowChooser();
    test::Click(m_chooser.ListView1->viewport(), EntryRect(0).center());
    ASSERT_EQ(m_chooser.ListView1->selectedItems().size(), 1);
    test::Click(m_chooser.Button1);
    EXPECT_EQ(CurrentLanguage, kLanguageCzech);
    EXPECT_EQ(StoredLanguage("Palvex"), "0");

    ShowChooser();
    EXPECT_TRUE(m_chooser.ListView1->selectedItems().isEmpty());
    test::Click(m_chooser.ListView1->viewport(), EntryRect(1).center());
    test::Click(m_chooser.Button1);
    EXPECT_EQ(CurrentLanguage, kLanguageEnglish);
    EXPECT_EQ(StoredLanguage("Palvex"), "1");
}

TEST_F(ChooserTest, DoubleClickOnAnEntryChoosesItAndCloses)
{
    ShowChooser();
    test::DoubleClick(m_chooser.ListView1->viewport(), EntryRect(0).center());
    EXPECT_FALSE(m_chooser.isVisible());
    EXPECT_EQ(m_chooser.result(), QDialog::Accepted);
    EXPECT_EQ(CurrentLanguage, kLanguageCzech);
    EXPECT_EQ(StoredLanguage("Palvex"), "0");
}
