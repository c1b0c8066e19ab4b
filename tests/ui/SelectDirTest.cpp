// The folder chooser: its tree, the new-folder prompt and what OK gives the main window.
#include "UiTestSupport.h"

#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "framework/KVMultiLanguage.h"

namespace palvex {
namespace {

using namespace test;

class SelectDirTest : public UiTest {
protected:
    // Shows the chooser as the main window's "..." does and leaves it open.
    void ShowChooser()
    {
        m_chooser.show();
        QCoreApplication::processEvents();
    }

    // "Create new folder", answering the prompt with name (null: cancel).
    void NewFolder(const char* name)
    {
        m_prompt.clear();
        m_onModal = [this, name](QDialog& dialog) {
            auto* prompt = qobject_cast<QInputDialog*>(&dialog);
            ASSERT_NE(prompt, nullptr);
            m_prompt = prompt->windowTitle() + " / " + prompt->labelText() + " / " + prompt->textValue();
            if (name) {
                prompt->setTextValue(QString::fromUtf8(name));
                prompt->accept();
            } else {
                prompt->reject();
            }
        };
        Click(m_chooser.BitBtn1);
        m_onModal = nullptr;
    }

    TFormSelectDir m_chooser;
    QString m_prompt;
};

TEST_F(SelectDirTest, OpensOnTheHomeFolderUnderTheComputerInTheCurrentLanguage)
{
    CurrentLanguage = kLanguageCzech;
    ShowChooser();
    EXPECT_EQ(m_chooser.windowTitle(), "Vyberte cílové umístění");
    EXPECT_EQ(m_chooser.BitBtn1->text(), "Vytvořit novou složku");
    EXPECT_EQ(m_chooser.BitBtn2->text(), "OK");
    EXPECT_EQ(m_chooser.BitBtn3->text(), "Zrušit");
    EXPECT_TRUE(m_chooser.BitBtn2->isDefault());
    EXPECT_EQ(m_chooser.SelectedPath(), QDir::homePath());
    ASSERT_EQ(m_chooser.ShellTreeView1->topLevelItemCount(), 1);
    QTreeWidgetItem* computer = m_chooser.ShellTreeView1->topLevelItem(0);
    ASSERT_EQ(computer->childCount(), 2);
    EXPECT_EQ(computer->child(0)->text(0), "/");

    // The computer has no path: no prompt, no folder, and nothing OK could store.
    m_chooser.ShellTreeView1->setCurrentItem(computer);
    EXPECT_FALSE(m_chooser.BitBtn2->isEnabled());
    NewFolder("never");
    EXPECT_TRUE(m_modalClasses.empty());
    EXPECT_EQ(m_chooser.SelectedPath(), "");
}

TEST_F(SelectDirTest, NewFolderIsCreatedAndSelectedExistingOnesSilentlySelectedRefusedOnesReported)
{
    CurrentLanguage = kLanguageEnglish;
    ShowChooser();
    const QString base = QString::fromStdString(m_dir.Path().string());
    m_chooser.SelectPath(base);

    NewFolder("Fotky 2024");
    EXPECT_EQ(m_prompt, "Create new folder / Name / ");
    EXPECT_TRUE(fs::is_directory(m_dir.Path() / "Fotky 2024"));
    EXPECT_EQ(m_chooser.SelectedPath(), base + "/Fotky 2024");

    // Cancelling gives an empty name: the same folder is selected again.
    NewFolder(nullptr);
    EXPECT_EQ(m_chooser.SelectedPath(), base + "/Fotky 2024");

    m_chooser.SelectPath(base);
    NewFolder("Fotky 2024");
    EXPECT_EQ(m_chooser.SelectedPath(), base + "/Fotky 2024");
    EXPECT_TRUE(m_reports.empty());

    // A name the file system refuses: nothing made, the selection step reports the path.
    m_chooser.SelectPath(base);
    NewFolder("a/b");
    EXPECT_FALSE(fs::exists(m_dir.Path() / "a"));
    EXPECT_EQ(m_reports, std::vector<QString>{"Korvane Palvex | Error setting path: \"" + base + "/a/b\""});
    EXPECT_TRUE(m_chooser.isVisible());
    EXPECT_EQ(m_chooser.SelectedPath(), base);

    // A hidden folder is not shown but can be selected by its path.
    NewFolder(".cache");
    EXPECT_EQ(m_chooser.SelectedPath(), base + "/.cache");
}

TEST_F(SelectDirTest, OkStoresThePathWithOneTrailingSeparatorAndCancelNothing)
{
    TFormMain& main = StartProgram();
    ChooseTarget("/");
    EXPECT_EQ(main.Edit1->text(), "/");
    ChooseTarget(m_dir.Path());
    EXPECT_EQ(main.Edit1->text().toStdString(), m_dir.Path().string() + "/");

    m_onModal = [](QDialog& dialog) {
        auto* chooser = qobject_cast<TFormSelectDir*>(&dialog);
        ASSERT_NE(chooser, nullptr);
        chooser->SelectPath("/");
        Click(chooser->BitBtn3);
    };
    Click(main.BitBtn1);
    EXPECT_EQ(main.Edit1->text().toStdString(), m_dir.Path().string() + "/");
}

} // namespace
} // namespace palvex
