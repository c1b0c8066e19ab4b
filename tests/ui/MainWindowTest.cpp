// The main window driven as a user drives it: listing, preview, run, presets,
// languages, start-up and command-line starts.
#include "UiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "framework/KVMultiLanguage.h"
#include "framework/MakerInfo.h"
#include "framework/windows/FormChooseLanguage.h"
#include "imageio/PictureRows.h"
#include "job/Presets.h"
#include "platform/Registry.h"
#include "raster/Stretch.h"
#include "ui/Image32.h"
#include "ui/Progress.h"
#include "ui/texts/InterfaceTexts.h"

namespace palvex {
namespace {

using namespace test;

// Runs a program to its end with the settings store of home; exit code, or -1.
int RunProgram(const char* program, const QStringList& arguments, const fs::path& home, int seconds = 120)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(home.string()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(seconds * 1000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

std::vector<std::pair<std::string, std::string>> ListRows(const QTreeWidget* list)
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.emplace_back(list->topLevelItem(i)->text(0).toStdString(), list->topLevelItem(i)->text(2).toStdString());
    return rows;
}

QTreeWidgetItem* Entry(TFormMain& main, const std::string& name)
{
    const QList<QTreeWidgetItem*> found =
        main.ListView1->findItems(QString::fromStdString(name), Qt::MatchEndsWith, 0);
    return found.size() == 1 ? found.front() : nullptr;
}

// Selects the entry with the keyboard's help and ticks it with the space bar.
void Tick(TFormMain& main, const std::string& name)
{
    QTreeWidgetItem* item = Entry(main, name);
    ASSERT_NE(item, nullptr) << name;
    main.ListView1->setCurrentItem(item);
    QTest::keyClick(main.ListView1, Qt::Key_Space);
    ASSERT_EQ(item->checkState(0), Qt::Checked) << name;
}

// Every translated control's text by its number in the text table.
std::vector<std::pair<int, QString>> ControlTexts(TFormMain& main)
{
    std::vector<std::pair<int, QString>> texts = {
        {2, main.Label2->text()},       {1, main.Label1->text()},       {3, main.Label3->text()},
        {6, main.Label6->text()},       {5, main.Label5->text()},       {8, main.Label8->text()},
        {9, main.Label9->text()},       {10, main.Label10->text()},     {11, main.Label11->text()},
        {12, main.Label12->text()},     {13, main.Label13->text()},     {14, main.Label14->text()},
        {15, main.Label15->text()},     {17, main.CheckBox1->text()},   {18, main.CheckBox2->text()},
        {19, main.CheckBox3->text()},   {20, main.CheckBox4->text()},   {21, main.CheckBox5->text()},
        {24, main.BitBtn3->text()},     {25, main.BitBtn4->text()},     {26, main.BitBtn5->text()},
        {27, main.BitBtn6->text()},     {33, main.Soubor->title()},     {34, main.IntegrovatdoOS1->text()},
        {35, main.Zruitintegraci1->text()}, {36, main.Konec1->text()}, {37, main.Predvolby->title()},
        {47, main.Napoveda->title()},   {60, main.MenuHelp->text()},    {48, main.About->text()},
        {53, main.Jazyk->title()},      {54, main.MenuCzech->text()},   {55, main.MenuEnglish->text()},
        {50, main.ListView1->headerItem()->text(0)}, {52, main.ListView1->headerItem()->text(2)},
    };
    for (int i = 0; i < 5; ++i)
        texts.emplace_back(28 + i, main.ComboBoxEx1->itemText(i));
    for (size_t i = 0; i < Presets().size(); ++i)
        texts.emplace_back(Presets()[i].CaptionText, main.PresetItems[i]->text());
    return texts;
}

void ExpectTexts(TFormMain& main, int language)
{
    const auto table = MainWindowTexts();
    for (const auto& [number, shown] : ControlTexts(main)) {
        const auto text = std::find_if(table.begin(), table.end(), [&](const auto& t) { return t.Number == number; });
        ASSERT_NE(text, table.end()) << number;
        EXPECT_EQ(shown, QString::fromUtf8(language == kLanguageCzech ? text->Czech : text->English))
            << "text " << number;
    }
    EXPECT_EQ(main.ListView1->headerItem()->text(1), "");
    EXPECT_EQ(main.windowTitle(), "Korvane Palvex");
    EXPECT_EQ(main.MenuCzech->isChecked(), language == kLanguageCzech);
    EXPECT_EQ(main.MenuEnglish->isChecked(), language == kLanguageEnglish);
}

using MainWindowTest = UiTest;

TEST_F(MainWindowTest, ListingShowsPictureFilesOnlyWithWholeKilobytes)
{
    TFormMain& main = StartProgram();
    EXPECT_FALSE(main.BitBtn5->isEnabled());
    EXPECT_FALSE(main.BitBtn6->isEnabled());

    // Start without a target only says so.
    QString message;
    m_onModal = [&message](QDialog& dialog) {
        if (auto* box = qobject_cast<QMessageBox*>(&dialog))
            message = box->text();
    };
    Click(main.BitBtn3);
    EXPECT_EQ(message, "Nejprve vyberte cílové umístění!");
    EXPECT_FALSE(m_windows.FormProgress->isVisible());

    // Beside the samples: sizes at the kilobyte edges, and entries no listing may take.
    std::ofstream(m_pictures / "zz-2047.jpg", std::ios::binary) << std::string(2047, 'x');
    std::ofstream(m_pictures / "zz-1000.JPEG", std::ios::binary) << std::string(1000, 'x');
    std::ofstream(m_pictures / "notes.txt") << "not a picture";
    ASSERT_EQ(::mkfifo((m_pictures / "pipe.jpg").c_str(), 0600), 0);
    fs::create_directory(m_pictures / "folder.png");
    fs::create_symlink(m_pictures / "missing.jpg", m_pictures / "dangling.jpg");

    ChooseSource(m_pictures / "landscape.jpg");
    EXPECT_EQ(m_pictureLabel, " (640x480)");
    const std::string folder = m_pictures.string() + "/";
    EXPECT_EQ(main.Edit2->text().toStdString(), folder);
    EXPECT_EQ(main.Edit1->text().toStdString(), folder);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {folder + "banner.gif", "2 kB"},     {folder + "dots.pcx", "36 kB"},     {folder + "gray.pgm", "10 kB"},
        {folder + "landscape.jpg", "77 kB"}, {folder + "portrait.jpg", "115 kB"}, {folder + "ring.tga", "51 kB"},
        {folder + "shapes.png", "223 kB"},   {folder + "sunrise.bmp", "187 kB"}, {folder + "tiles.tif", "443 kB"},
        {folder + "zz-1000.JPEG", "0 kB"},   {folder + "zz-2047.jpg", "1 kB"},
    };
    EXPECT_EQ(ListRows(main.ListView1), expected);
    EXPECT_TRUE(main.BitBtn5->isEnabled());
    EXPECT_TRUE(main.BitBtn6->isEnabled());
    for (int i = 0; i < main.ListView1->topLevelItemCount(); ++i)
        EXPECT_EQ(main.ListView1->topLevelItem(i)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(main.ListView1->columnWidth(1), 0);

    // A name that is not UTF-8 is listed and opens by its own bytes.
    const std::string latin1 = "caf\xe9.jpg";
    fs::copy_file(m_pictures / "landscape.jpg", m_pictures / latin1);
    ChooseSource(m_pictures / "landscape.jpg");
    ASSERT_EQ(main.ListView1->topLevelItemCount(), 12);
    main.ListView1->setCurrentItem(main.ListView1->topLevelItem(1));
    EXPECT_EQ(main.Image321->Bitmap().Width(), 640);
    EXPECT_TRUE(m_reports.empty());

    // A new source keeps the target; one with no pictures empties the list and disables the buttons.
    const fs::path empty = m_dir.Path() / "empty";
    fs::create_directory(empty);
    std::ofstream(empty / "readme") << "x";
    ChooseSource(empty / "readme");
    EXPECT_EQ(main.Edit2->text().toStdString(), empty.string() + "/");
    EXPECT_EQ(main.Edit1->text().toStdString(), folder);
    EXPECT_EQ(main.ListView1->topLevelItemCount(), 0);
    EXPECT_FALSE(main.BitBtn5->isEnabled());
    EXPECT_FALSE(main.BitBtn6->isEnabled());

    // Cancelling the dialog changes nothing.
    m_onModal = [](QDialog& dialog) { dialog.reject(); };
    Click(main.BitBtn2);
    EXPECT_EQ(main.Edit2->text().toStdString(), empty.string() + "/");
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(MainWindowTest, TwoTickedEntriesGiveTheBytesOfTheCommandLineProgram)
{
    TFormMain& main = StartProgram();
    const fs::path out = ListPicturesIntoNewTarget();
    EXPECT_EQ(main.Edit1->text().toStdString(), out.string() + "/");

    main.PresetItem("opt1")->trigger();
    Click(main.CheckBox1);
    Tick(main, "landscape.jpg");
    Tick(main, "shapes.png");

    // The progress window is up while the run goes, with its lines filled.
    std::vector<QString> seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (m_windows.FormProgress->isVisible())
            seen.push_back(m_windows.FormProgress->Label2->text());
    });
    watch.start(0);
    Click(main.BitBtn3);
    watch.stop();
    EXPECT_TRUE(m_reports.empty()) << m_reports.front().toStdString();
    EXPECT_FALSE(m_windows.FormProgress->isVisible());
    EXPECT_NE(std::find(seen.begin(), seen.end(), "Soubor 2 z 2"), seen.end());
    EXPECT_EQ(m_windows.FormProgress->ProgressBar1->value(), 100);
    EXPECT_EQ(m_windows.FormProgress->Label1->text(), "Čekejte, prosím...");

    const std::vector<std::string> written = {"landscape_800x600_50q.jpg", "shapes_600x600_50q.jpg"};
    ASSERT_EQ(NamesIn(out), written);

    // The same two pictures, the same settings, through palvex-cli.
    const fs::path cli = m_dir.Path() / "cli";
    fs::create_directory(cli);
    for (const char* name : {"landscape.jpg", "shapes.png"}) {
        fs::copy_file(m_pictures / name, cli / name);
        ASSERT_EQ(RunProgram(PALVEX_CLI_PATH,
                             {QString::fromStdString((cli / name).string()), "/keepaspectratio", "/width=800",
                              "/height=600", "/quality=50", "/process=1"},
                             m_dir.Path()),
                  0);
    }
    for (const std::string& name : written) {
        ASSERT_TRUE(fs::exists(cli / name)) << name;
        EXPECT_TRUE(ReadFileText(out / name) == ReadFileText(cli / name)) << name << " differs";
    }
}

TEST_F(MainWindowTest, PreviewDrawsWithTheChosenFilterReloadsOnDeselectAndKeepsTheLastGoodPicture)
{
    TFormMain& main = StartProgram();
    main.resize(900, 700);
    ChooseSource(m_pictures / "landscape.jpg");
    main.ListView1->setCurrentItem(Entry(main, "landscape.jpg"));
    EXPECT_EQ(main.Image321->Bitmap().Width(), 640);
    EXPECT_EQ(main.Image321->Bitmap().Height(), 480);

    // Fitted with the proportions kept, centred, and stretched by the project's
    // own filter at the screen's pixels.
    const auto expectStretch = [&](TStretchFilter filter) {
        const QImage shown = main.Image321->ScaledPicture();
        const QRect area = main.Image321->PictureRect();
        ASSERT_FALSE(shown.isNull());
        EXPECT_EQ(shown.size(), area.size());
        EXPECT_TRUE(area.width() == main.Image321->width() || area.height() == main.Image321->height());
        EXPECT_LE(std::abs(area.width() * 480 - area.height() * 640), 640);
        EXPECT_LE(std::abs(area.left() * 2 + area.width() - main.Image321->width()), 1);
        TBitmap32 expected;
        expected.SetSize(area.width(), area.height());
        StretchCopy(&expected, expected.FullRect(), expected.FullRect(), &main.Image321->Bitmap(),
                    main.Image321->Bitmap().FullRect(), filter, dmOpaque, {});
        for (int y = 0; y < area.height(); ++y)
            for (int x = 0; x < area.width(); ++x)
                ASSERT_EQ(shown.pixel(x, y), expected.Pixel(x, y) | 0xFF000000u) << x << "," << y;
    };
    expectStretch(sfNearest);
    main.ComboBoxEx1->setCurrentIndex(3);
    EXPECT_EQ(main.Image321->Bitmap().StretchFilter(), sfCosine);
    expectStretch(sfCosine);

    // Clicking beside the entries deselects one, and that reloads it: a file
    // changed meanwhile shows its new picture.
    fs::copy_file(m_pictures / "portrait.jpg", m_pictures / "landscape.jpg", fs::copy_options::overwrite_existing);
    const QRect last = main.ListView1->visualItemRect(main.ListView1->topLevelItem(8));
    Click(main.ListView1->viewport(), QPoint(5, last.bottom() + 20));
    EXPECT_TRUE(main.ListView1->selectedItems().isEmpty());
    EXPECT_EQ(main.Image321->Bitmap().Width(), 480);
    EXPECT_EQ(main.Image321->Bitmap().Height(), 640);

    // A listed file that turned into a FIFO is reported, never opened; a
    // damaged one too; the preview keeps its picture.
    ::alarm(60);
    fs::remove(m_pictures / "shapes.png");
    ASSERT_EQ(::mkfifo((m_pictures / "shapes.png").c_str(), 0600), 0);
    main.ListView1->setCurrentItem(Entry(main, "shapes.png"));
    std::ofstream(m_pictures / "ring.tga", std::ios::binary) << "damaged";
    main.ListView1->setCurrentItem(Entry(main, "ring.tga"));
    ::alarm(0);
    WaitFor([this] { return m_reports.size() >= 2; }, 2000);
    ASSERT_EQ(m_reports.size(), 2u);
    EXPECT_TRUE(m_reports[0].startsWith("Korvane Palvex | Cannot open file \"" + QString::fromStdString(m_pictures.string()) + "/shapes.png\". "))
        << m_reports[0].toStdString();
    EXPECT_EQ(main.Image321->Bitmap().Width(), 480);
    EXPECT_FALSE(main.Image321->ScaledPicture().isNull());
}

TEST_F(MainWindowTest, EveryPresetSetsTheControlsAndSliderLabelsAtOnce)
{
    TFormMain& main = StartProgram();
    main.Edit7->setText("web-");
    int separators = 0;
    for (QAction* item : main.Predvolby->actions())
        separators += item->isSeparator();
    EXPECT_EQ(separators, 4);
    for (size_t i = 0; i < Presets().size(); ++i) {
        const TPreset& preset = Presets()[i];
        // Start from values that no preset has.
        main.TrackBar1->setValue(7);
        main.TrackBar2->setValue(333);
        main.ComboBoxEx1->setCurrentIndex(2);
        main.PresetItems[i]->trigger();
        SCOPED_TRACE(preset.ItemName);
        EXPECT_EQ(main.TrackBar1->value(), preset.Quality);
        EXPECT_EQ(main.Label4->text(), QString::number(preset.Quality) + "%");
        EXPECT_EQ(main.TrackBar2->value(), preset.ScalePercent);
        EXPECT_EQ(main.Label7->text(), QString::number(preset.ScalePercent) + "%");
        EXPECT_EQ(main.Edit3->text(), preset.MinWidth);
        EXPECT_EQ(main.Edit4->text(), preset.MinHeight);
        EXPECT_EQ(main.Edit5->text(), preset.MaxWidth);
        EXPECT_EQ(main.Edit6->text(), preset.MaxHeight);
        EXPECT_EQ(main.ComboBoxEx1->currentIndex(), preset.FilterIndex);
        EXPECT_EQ(main.CheckBox4->isChecked(), preset.KeepAspectRatio);
        EXPECT_EQ(main.CheckBox5->isChecked(), preset.DetectPortrait);
        EXPECT_EQ(main.Edit7->text(), "web-");
    }
}

TEST_F(MainWindowTest, LanguageSwitchesAtOnceAndBackRestoresEveryCzechText)
{
    TFormMain& main = StartProgram();
    ExpectTexts(main, kLanguageCzech);
    EXPECT_TRUE(main.CheckBox3->isHidden());

    main.MenuEnglish->trigger();
    EXPECT_EQ(CurrentLanguage, kLanguageEnglish);
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "1");
    ExpectTexts(main, kLanguageEnglish);
    EXPECT_EQ(GetText(933), "Error");

    main.MenuCzech->trigger();
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "0");
    ExpectTexts(main, kLanguageCzech);
    // The checked entry again: saved and translated, nothing else.
    main.MenuCzech->trigger();
    ExpectTexts(main, kLanguageCzech);

    // Esc is the Exit button: the window closes.
    QTest::keyClick(main.Edit7, Qt::Key_Escape);
    EXPECT_FALSE(main.isVisible());
}

TEST_F(MainWindowTest, FirstStartAsksForTheLanguageBeforeAnythingElseAndStoresIt)
{
    m_onModal = [](QDialog& dialog) {
        auto* chooser = qobject_cast<TFormChooseLanguage*>(&dialog);
        ASSERT_NE(chooser, nullptr);
        chooser->ListView1->setCurrentRow(0);
        Click(chooser->Button1);
    };
    TFormMain& main = StartProgram({}, nullptr);
    EXPECT_EQ(m_modalClasses, std::vector<std::string>{"palvex::TFormChooseLanguage"});
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "0");
    main.MenuHelp->trigger();
    EXPECT_EQ(m_opened, std::vector<std::string>{kPalvexWebPage});
    ExpectTexts(main, kLanguageCzech);
    EXPECT_EQ(main.ComboBoxEx1->currentIndex(), 0);
    EXPECT_EQ(main.Label4->text(), "100%");

    // The windows exist, hidden, in the start-up order's set.
    EXPECT_FALSE(m_windows.FormProgress->isVisible());
    EXPECT_FALSE(m_windows.FormInformation->isVisible());
    EXPECT_EQ(m_windows.FormIntegration->objectName(), "FormIntegration");
    EXPECT_FALSE(m_windows.FormIntegration->isVisible());
    EXPECT_FALSE(m_windows.FormChooseLanguage->isVisible());
}

TEST_F(MainWindowTest, DamagedSettingsAreToldOnceAfterTheLanguageIsAskedAgain)
{
    fs::create_directories(RegistryStoreFolder());
    std::ofstream(fs::path(RegistryStoreFolder()) / "HKEY_LOCAL_MACHINE.txt") << "[broken\n";
    QString warning;
    m_onModal = [&warning](QDialog& dialog) {
        if (auto* chooser = qobject_cast<TFormChooseLanguage*>(&dialog)) {
            chooser->ListView1->setCurrentRow(1);
            Click(chooser->Button1);
        } else if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            EXPECT_EQ(box->windowTitle(), "Korvane Palvex");
            warning = box->text();
        }
    };
    StartProgram({}, nullptr);
    EXPECT_EQ(m_modalClasses, (std::vector<std::string>{"palvex::TFormChooseLanguage", "QMessageBox"}));
    EXPECT_TRUE(warning.startsWith("The settings file \"")) << warning.toStdString();
    EXPECT_TRUE(warning.endsWith("the settings start anew.")) << warning.toStdString();
    EXPECT_EQ(ReadSettingString("Palvex\\Language", ":"), "1");

    // Told once: the next start has nothing to say.
    m_modalClasses.clear();
    StartProgram({}, nullptr);
    EXPECT_TRUE(m_modalClasses.empty());
}

TEST_F(MainWindowTest, ClosingDuringARunStopsAfterTheCurrentPicture)
{
    TFormMain& main = StartProgram();
    const fs::path out = ListPicturesIntoNewTarget();
    Click(main.BitBtn5);

    // The window is closed while the first picture is being written.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (m_windows.FormProgress->Label5->text().startsWith("Cíl: ")) {
            closer.stop();
            main.close();
            EXPECT_TRUE(main.isVisible());
        }
    });
    closer.start(0);
    Click(main.BitBtn3);
    EXPECT_FALSE(main.isVisible());
    EXPECT_FALSE(m_windows.FormProgress->isVisible());
    EXPECT_EQ(NamesIn(out), std::vector<std::string>{"banner.jpg"});
    EXPECT_GT(fs::file_size(out / "banner.jpg"), 0u);
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(MainWindowTest, CommandLineWithoutQualityDigitsReportsAndStaysOpenMinimized)
{
    const std::string picture = (m_pictures / "landscape.jpg").string();
    TFormMain& main = StartProgram({picture, "/width=640", "/quality", "/photo1015"});
    ASSERT_EQ(m_reports, std::vector<QString>{"Korvane Palvex | '' is not a valid integer value."});
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(main.windowState() & Qt::WindowMinimized);
    // Applied up to the failing option, labels included; nothing listed or written.
    EXPECT_EQ(main.Label7->text(), "1000%");
    EXPECT_EQ(main.Edit5->text(), "640");
    EXPECT_EQ(main.TrackBar1->value(), 100);
    EXPECT_EQ(main.ListView1->topLevelItemCount(), 0);
    EXPECT_EQ(NamesIn(m_pictures).size(), 9u);
}

TEST_F(MainWindowTest, CommandLineStartWritesTheFileAndEndsByItself)
{
    // The language is stored, so no chooser waits for an answer.
    WriteSettingString("Palvex\\Language", ":", "1");
    const fs::path cli = m_dir.Path() / "cli";
    fs::create_directory(cli);
    fs::copy_file(m_pictures / "portrait.jpg", cli / "portrait.jpg");
    const std::vector<std::string> before = NamesIn(m_pictures);
    const QString picture = QString::fromStdString((m_pictures / "portrait.jpg").string());
    EXPECT_EQ(RunProgram(PALVEX_GUI_PATH, {picture, "/photo1015"}, m_dir.Path()), 0);
    EXPECT_EQ(RunProgram(PALVEX_CLI_PATH, {QString::fromStdString((cli / "portrait.jpg").string()), "/photo1015"},
                         m_dir.Path()),
              0);
    std::vector<std::string> written;
    for (const std::string& name : NamesIn(m_pictures))
        if (std::find(before.begin(), before.end(), name) == before.end())
            written.push_back(name);
    ASSERT_EQ(written, std::vector<std::string>{"portrait_1152x1536_90q.jpg"});
    EXPECT_TRUE(ReadFileText(m_pictures / written[0]) == ReadFileText(cli / written[0]));
}

// The Adobe RGB photo as a camera stores a portrait: its 96x64 pixels with
// EXIF orientation 6 (big-endian, Orientation only) after the JFIF segment.
std::string TurnedPhoto()
{
    std::string bytes = ReadFileText(DataDir() / "jpeg" / "gen__jpeg_adobe_rgb.jpg");
    const char exif[] = {'\xFF', '\xE1', 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                         1, 0x12, 0, 3, 0, 0, 0, 1, 0, 6, 0, 0, 0, 0, 0, 0};
    bytes.insert(4 + ((uint8_t(bytes[4]) << 8) | uint8_t(bytes[5])), exif, sizeof exif);
    return bytes;
}

bool SamePicture(const TBitmap32& a, const TBitmap32& b)
{
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::memcmp(a.PixelData(), b.PixelData(), a.PixelCount() * sizeof(TColor32)) == 0;
}

TEST_F(MainWindowTest, PreviewsAndUnattendedRunsLoadPicturesAsTheOptionsSay)
{
    const fs::path photo = m_pictures / "photo.jpg";
    std::ofstream(photo, std::ios::binary) << TurnedPhoto();
    TBitmap32 upright, asStored;
    LoadPictureFile(upright, photo.string());
    LoadPictureFile(asStored, photo.string(), kPixelsAsStored);
    ASSERT_EQ(upright.Width(), 64);

    // Both previews show what a run scales from: turned and converted...
    TFormMain& main = StartProgram();
    ChooseSource(photo);
    EXPECT_EQ(m_pictureLabel, " (64x96)");
    main.ListView1->setCurrentItem(Entry(main, "photo.jpg"));
    EXPECT_TRUE(SamePicture(main.Image321->Bitmap(), upright));
    // ...or as stored, when the settings say so.
    ReductionSettings settings = main.Settings();
    settings.Loading = kPixelsAsStored;
    main.SetSettings(settings);
    main.PresetItem("opt1")->trigger();
    EXPECT_FALSE(main.Settings().Loading.Orientation || main.Settings().Loading.ColorProfile);
    ChooseSource(photo);
    EXPECT_EQ(m_pictureLabel, " (96x64)");
    main.ListView1->setCurrentItem(Entry(main, "photo.jpg"));
    EXPECT_TRUE(SamePicture(main.Image321->Bitmap(), asStored));

    // Unattended: each option keeps its part as stored, with palvex-cli's bytes.
    const fs::path cli = m_dir.Path() / "cli";
    fs::create_directory(cli);
    fs::copy_file(photo, cli / "photo.jpg");
    for (const char* option : {"/noorientation", "/NoProfile", "/convert"}) {
        StartProgram({photo.string(), "/convert", option});
        ASSERT_EQ(RunProgram(PALVEX_CLI_PATH, {QString::fromStdString((cli / "photo.jpg").string()), "/convert", option},
                             m_dir.Path()),
                  0);
    }
    EXPECT_TRUE(m_reports.empty()) << m_reports.front().toStdString();
    const std::vector<std::string> written = {"photo_64x96_100q(2).jpg", "photo_64x96_100q.jpg", "photo_96x64_100q.jpg"};
    for (const std::string& name : written) {
        ASSERT_TRUE(fs::exists(m_pictures / name)) << name;
        EXPECT_TRUE(ReadFileText(m_pictures / name) == ReadFileText(cli / name)) << name;
    }
    // The colours as stored differ from the converted ones.
    EXPECT_FALSE(ReadFileText(m_pictures / written[0]) == ReadFileText(m_pictures / written[1]));
}

TEST_F(MainWindowTest, LonePathOpensInTheWindowWithoutWritingAnything)
{
    // "Open with" from a file manager: the picture's folder listed, the picture
    // previewed, the window up and nothing written.
    const std::vector<std::string> before = NamesIn(m_pictures);
    const std::string folder = m_pictures.string() + "/";
    TFormMain& main = StartProgram({(m_pictures / "portrait.jpg").string()});
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(main.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(main.Edit2->text().toStdString(), folder);
    EXPECT_EQ(main.Edit1->text().toStdString(), folder);
    EXPECT_EQ(main.ListView1->topLevelItemCount(), 9);
    ASSERT_NE(main.ListView1->currentItem(), nullptr);
    EXPECT_EQ(main.ListView1->currentItem()->text(0).toStdString(), folder + "portrait.jpg");
    EXPECT_TRUE(main.ListView1->currentItem()->isSelected());
    TBitmap32 expected;
    LoadPictureFile(expected, (m_pictures / "portrait.jpg").string());
    EXPECT_EQ(main.Image321->Bitmap().Width(), expected.Width());
    EXPECT_EQ(main.Image321->Bitmap().Height(), expected.Height());
    EXPECT_TRUE(main.BitBtn5->isEnabled());

    // A relative name from a terminal is the current folder's; a folder alone
    // is listed with nothing selected.
    const QString working = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(m_dir.Path().string()));
    StartProgram({"pictures/../pictures/landscape.jpg"});
    EXPECT_EQ(Main().ListView1->currentItem()->text(0).toStdString(), folder + "landscape.jpg");
    StartProgram({"pictures"});
    QDir::setCurrent(working);
    EXPECT_EQ(Main().Edit2->text().toStdString(), folder);
    EXPECT_EQ(Main().ListView1->topLevelItemCount(), 9);
    EXPECT_EQ(Main().ListView1->currentItem(), nullptr);
    EXPECT_TRUE(m_reports.empty()) << m_reports.front().toStdString();

    // A FIFO named like a picture is neither listed nor opened; a path that is
    // not there leaves both folders empty. Each is reported and the window stays.
    ::alarm(60);
    ASSERT_EQ(::mkfifo((m_pictures / "pipe.jpg").c_str(), 0600), 0);
    StartProgram({(m_pictures / "pipe.jpg").string()});
    ::alarm(0);
    EXPECT_EQ(Main().ListView1->topLevelItemCount(), 9);
    StartProgram({"/convert"});
    EXPECT_TRUE(Main().Edit2->text().isEmpty());
    EXPECT_TRUE(Main().Edit1->text().isEmpty());
    ASSERT_EQ(m_reports.size(), 2u);
    EXPECT_TRUE(m_reports[0].contains(QString::fromStdString(folder) + "pipe.jpg")) << m_reports[0].toStdString();
    EXPECT_TRUE(m_reports[1].startsWith("Korvane Palvex | Cannot open file \"/convert\". ")) << m_reports[1].toStdString();
    EXPECT_TRUE(Main().isVisible());
    EXPECT_EQ(NamesIn(m_pictures).size(), before.size() + 1);
}

TEST_F(MainWindowTest, HelpAndVersionPrintWithoutAnyDisplay)
{
    for (const char* option : {"--help", "--version"}) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // A window would need a display: there is none.
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        process.setProcessEnvironment(environment);
        process.start(PALVEX_GUI_PATH, {option});
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0) << option;
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        if (std::string_view(option) == "--help") {
            EXPECT_TRUE(out.startsWith("Usage: palvex [PATH]\n")) << out.toStdString();
            EXPECT_TRUE(out.contains("--photo1015, /photo1015")) << out.toStdString();
        } else {
            EXPECT_TRUE(out.startsWith("palvex ")) << out.toStdString();
        }
    }
}

} // namespace
} // namespace palvex
