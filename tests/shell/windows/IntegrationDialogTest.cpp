// The integration dialog as the File menu shows it: its layout and texts, the
// choice buttons, and what OK, Cancel and Remove integration leave behind.
#include "ShellWindowsTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <set>

#include "framework/KVMultiLanguage.h"
#include "platform/Registry.h"
#include "shell/windows/FormIntegration.h"
#include "ui/ProgramWindows.h"

namespace palvex {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::Snapshot;
using test::WriteFile;

// Written out here, by check-box number: the grid's captions column by column.
const char* const kTypeCaptions[41] = {
    ".JPG", ".JPEG", ".GIF", ".TIF", ".TIFF", ".ICO", ".EMF", ".WMF", ".PNG", ".PSP", ".CUT",  ".PCD", ".PIC", ".CEL",
    ".PBM", ".PGM",  ".PPM", ".PDD", ".PSD",  ".BW",  ".RGB", ".RGBA", ".SGI", ".RLA", ".RPF",  ".SCR", ".PCC", ".PCX",
    ".EPS", ".FAX",  ".ICB", ".TGA", ".VDA",  ".VST", ".WIN", ".DIB",  ".RLE", ".JPE", ".JFIF", ".BMP", "\\*.*"};
const std::set<int> kDefaultTicks = {1, 2, 4, 5, 38, 39, 40, 41, 53, 57, 63};

std::set<int> Ticked(const TFormIntegration& dialog)
{
    std::set<int> ticked;
    for (int n = 1; n <= 63; ++n)
        if (QCheckBox* box = dialog.CheckBox(n); box && box->isChecked())
            ticked.insert(n);
    return ticked;
}

std::string Value(const std::string& key)
{
    TRegistry reg(TRegistryRoot::ClassesRoot);
    return reg.OpenKeyReadOnly(key) ? reg.ReadString("") : "<no key>";
}

class IntegrationDialogTest : public test::ShellWindowsTest {};

// The dialog's texts follow the language at each showing.
void ShowIn(TFormIntegration& dialog, int language)
{
    CurrentLanguage = language;
    dialog.show();
    QCoreApplication::processEvents();
}

TEST_F(IntegrationDialogTest, GridGroupsButtonsDefaultChoiceAndTheLanguageOfEachShowing)
{
    TFormIntegration dialog;
    ShowIn(dialog, kLanguageCzech);
    EXPECT_EQ(dialog.windowTitle(), "Integrovat do shellu");
    EXPECT_EQ(dialog.Label1->text(), "Vyberte typy souborů:");
    EXPECT_EQ(dialog.Label2->text(), "Vyberte předvolby:");
    EXPECT_TRUE(dialog.Label1->font().bold() && dialog.Label2->font().bold());
    const std::vector<QPushButton*> buttons{dialog.BitBtn1, dialog.BitBtn5, dialog.BitBtn6, dialog.BitBtn2, dialog.BitBtn3};
    QStringList captions;
    for (QPushButton* button : buttons)
        captions << button->text();
    EXPECT_EQ(captions, QStringList({"Výchozí", "Vybrat vše", "Zrušit výběr", "OK", "Zrušit"}));
    EXPECT_EQ(dialog.CheckBox(49)->text(), "Optimalizovat pro 800x600, 50% kvalita");
    EXPECT_EQ(dialog.CheckBox(58)->text(), "Optimalizovat pro vyvolání fotografie 13x19cm");
    EXPECT_EQ(dialog.CheckBox(62)->text(), "Optimalizovat na 16-BASE (fotografie až 20x30cm)");
    EXPECT_EQ(dialog.CheckBox(63)->text(), "Pouze konvertovat do JPEG, 100% kvalita");

    // Eight rows by columns, "\*.*" at the top of a sixth column; nothing cut off.
    const auto at = [&](int n) { return dialog.CheckBox(n)->geometry(); };
    const QRect inside = dialog.rect();
    for (int n = 1; n <= 41; ++n) {
        EXPECT_EQ(dialog.CheckBox(n)->text(), kTypeCaptions[n - 1]) << n;
        EXPECT_TRUE(inside.contains(at(n))) << n;
        if (n <= 40) {
            EXPECT_EQ(at(n).x(), at((n - 1) / 8 * 8 + 1).x()) << n;
            EXPECT_EQ(at(n).y(), at((n - 1) % 8 + 1).y()) << n;
        }
        if (n % 8 != 1) {
            EXPECT_GT(at(n).y(), at(n - 1).y()) << n;
        }
    }
    EXPECT_EQ(at(41).y(), at(1).y());
    EXPECT_GT(at(41).x(), at(33).right());
    for (int n = 9; n <= 33; n += 8)
        EXPECT_GT(at(n).x(), at(n - 8).right()) << n;
    // Presets: 49-52 beside 53-56, then 57-60, then 61-62, then 63, all below Label2.
    EXPECT_GT(dialog.Label2->y(), at(8).bottom());
    EXPECT_GT(at(49).y(), dialog.Label2->geometry().bottom());
    for (int n = 49; n <= 52; ++n) {
        EXPECT_EQ(at(n).x(), at(49).x());
        EXPECT_EQ(at(n + 4).y(), at(n).y());
        EXPECT_GT(at(n + 4).x(), at(n).x());
    }
    for (int n = 57; n <= 63; ++n) {
        EXPECT_EQ(at(n).x(), at(49).x()) << n;
        EXPECT_GT(at(n).y(), at(n == 57 ? 52 : n - 1).bottom()) << n;
        EXPECT_TRUE(inside.contains(at(n))) << n;
    }
    EXPECT_GT(at(57).y() - at(52).bottom(), at(58).y() - at(57).bottom());
    EXPECT_GT(at(61).y() - at(60).bottom(), at(60).y() - at(59).bottom());
    EXPECT_GT(at(63).y() - at(62).bottom(), at(62).y() - at(61).bottom());
    // One row of buttons along the bottom, OK and Cancel at the right.
    for (size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_NEAR(buttons[i]->geometry().center().y(), buttons[0]->geometry().center().y(), 1);
        EXPECT_TRUE(inside.contains(buttons[i]->geometry()));
        if (i > 0) {
            EXPECT_GT(buttons[i]->x(), buttons[i - 1]->geometry().right());
        }
    }
    EXPECT_GT(buttons[0]->y(), at(63).bottom());
    EXPECT_GT(dialog.BitBtn2->x(), dialog.width() / 2);
    EXPECT_TRUE(dialog.BitBtn2->isDefault());

    EXPECT_EQ(Ticked(dialog), kDefaultTicks);
    test::Click(dialog.BitBtn5);
    EXPECT_EQ(Ticked(dialog).size(), 56u);
    test::Click(dialog.BitBtn6);
    EXPECT_TRUE(Ticked(dialog).empty());
    dialog.CheckBox(9)->click();
    test::Click(dialog.BitBtn1);
    EXPECT_EQ(Ticked(dialog), kDefaultTicks);

    // A changed choice is not kept: Cancel, then the next showing in English.
    dialog.CheckBox(3)->click();
    dialog.CheckBox(63)->click();
    test::Click(dialog.BitBtn3);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    ShowIn(dialog, kLanguageEnglish);
    EXPECT_EQ(dialog.windowTitle(), "Integrate to shell");
    EXPECT_EQ(dialog.Label1->text(), "Select filetypes:");
    EXPECT_EQ(dialog.BitBtn6->text(), "Select none");
    EXPECT_EQ(dialog.CheckBox(57)->text(), "Optimize for developing pictures 10x15cm / 4\"x6\"");
    EXPECT_EQ(dialog.CheckBox(61)->text(), "Optimize to 4-BASE (pictures up to 10x15cm / 4\"x6\")");
    EXPECT_EQ(dialog.CheckBox(40)->text(), ".BMP");
    EXPECT_EQ(dialog.CheckBox(41)->text(), "\\*.*");
    EXPECT_EQ(Ticked(dialog), kDefaultTicks);
    test::Click(dialog.BitBtn2);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(IntegrationDialogTest, FileMenuWritesTheTickedVerbsAndEntriesCancelKeepsThemRemovalRestoresTheHome)
{
    constexpr const char* kProgram = "/opt/Palvex Apps/palvex";
    const std::string usersActions = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n<action>\n"
                                     "\t<name>Mine</name>\n\t<unique-id>1-1</unique-id>\n\t<command>x %f</command>\n"
                                     "\t<patterns>*</patterns>\n\t<directories/>\n</action>\n</actions>\n";
    WriteFile(m_dir.Path() / "Thunar/uca.xml", usersActions);
    WriteFile(Data() / "nemo/actions/mine.nemo_action", "[Nemo Action]\nName=Mine\n");
    WriteSettingString("Palvex\\Language", ":", "1");
    const auto before = Snapshot(Home());
    const std::string actionsBefore = ReadFileText(m_dir.Path() / "Thunar/uca.xml");

    TProgramWindows windows = CreateProgramWindows({}, MakeFormIntegration);
    ConnectShellIntegration(windows, kProgram);
    TFormMain& main = *windows.FormMain;
    main.show();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    std::function<void(TFormIntegration&)> choose;
    m_onModal = [&choose](QDialog& dialog) {
        auto* form = qobject_cast<TFormIntegration*>(&dialog);
        ASSERT_NE(form, nullptr);
        choose(*form);
    };

    // .PNG and folders with the first and the last preset; the boxes are read after OK.
    choose = [](TFormIntegration& form) {
        test::Click(form.BitBtn6);
        for (int n : {9, 41, 49, 63})
            form.CheckBox(n)->click();
        test::Click(form.BitBtn2);
    };
    main.IntegrovatdoOS1->trigger();
    EXPECT_EQ(m_modalClasses, std::vector<std::string>{"palvex::TFormIntegration"});
    EXPECT_EQ(Value("\\.png"), "Korvane.Palvex");
    EXPECT_EQ(Value("\\Korvane.Palvex\\Shell\\KVPX01"), "O\xC2\xBBo Palvex: 50%, 800x600");
    EXPECT_EQ(Value("\\Korvane.Palvex\\Shell\\KVPX01\\Command"),
              "\"/opt/Palvex Apps/palvex\" \"%1\" /keepaspectratio /width=800 /height=600 /quality=50 /process=2");
    EXPECT_EQ(Value("\\Directory\\Shell\\KVPX99"), "O\xC2\xBBo Palvex: Convert to JPEG, 100% quality\"");
    EXPECT_EQ(Value("\\Directory\\Shell\\KVPX99\\Command"), "\"/opt/Palvex Apps/palvex\" \"%1\" /convert /folder");
    EXPECT_EQ(Value("\\Korvane.Palvex\\Shell\\KVPX05"), "<no key>");
    EXPECT_EQ(Value("\\.jpg"), "<no key>");
    const std::string menu = ReadFileText(Data() / "kio/servicemenus/palvex-integration.desktop");
    EXPECT_NE(menu.find("MimeType=image/png;inode/directory;"), std::string::npos) << menu;
    EXPECT_NE(menu.find("Actions=KVPX01;KVPX99;"), std::string::npos) << menu;
    EXPECT_NE(menu.find("Icon=cz.korvane.Palvex\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(Data() / "nemo/actions/palvex-kvpx99.nemo_action"));
    EXPECT_FALSE(fs::exists(Data() / "nemo/actions/palvex-kvpx05.nemo_action"));
    EXPECT_TRUE(fs::exists(Data() / "nautilus/scripts/Palvex/Palvex: 50%, 800x600"));
    const std::string actions = ReadFileText(m_dir.Path() / "Thunar/uca.xml");
    EXPECT_NE(actions.find("<unique-id>1-1</unique-id>"), std::string::npos);
    EXPECT_NE(actions.find("palvex-kvpx99"), std::string::npos);

    // Cancel after ticking everything changes nothing.
    const auto integrated = Snapshot(m_dir.Path());
    choose = [](TFormIntegration& form) {
        test::Click(form.BitBtn5);
        test::Click(form.BitBtn3);
    };
    main.IntegrovatdoOS1->trigger();
    EXPECT_EQ(Snapshot(m_dir.Path()), integrated);

    // The default choice in Czech: the earlier verbs are gone, the captions follow the language.
    main.MenuCzechClick();
    choose = [](TFormIntegration& form) { test::Click(form.BitBtn2); };
    main.IntegrovatdoOS1->trigger();
    EXPECT_EQ(Value("\\Korvane.Palvex\\Shell\\KVPX01"), "<no key>");
    EXPECT_EQ(Value("\\Directory\\Shell\\KVPX99"), "O\xC2\xBBo Palvex: Konvertovat do JPEG, 100% kvalita");
    EXPECT_EQ(Value("\\Korvane.Palvex\\Shell\\KVPX09"), "O\xC2\xBBo Palvex: Fotografie 10x15cm");
    EXPECT_EQ(Value("\\.jfif"), "Korvane.Palvex");
    EXPECT_FALSE(fs::exists(Data() / "nautilus/scripts/Palvex/Palvex: 50%, 800x600"));
    EXPECT_TRUE(fs::exists(Data() / "nautilus/scripts/Palvex/Palvex: Fotografie 10x15cm"));

    main.Zruitintegraci1->trigger();
    EXPECT_EQ(Snapshot(Home()), before);
    EXPECT_EQ(ReadFileText(m_dir.Path() / "Thunar/uca.xml"), actionsBefore);
    for (const char* type : {"Directory", "Korvane.Palvex"})
        for (const char* verb : {"KVPX01", "KVPX05", "KVPX09", "KVPX99"})
            EXPECT_EQ(Value(std::string("\\") + type + "\\Shell\\" + verb), "<no key>") << type << verb;
    EXPECT_TRUE(m_reports.empty());
    main.close();
}

} // namespace
} // namespace palvex
