// Saves PNGs of the desktop program's windows for a look by eye: the main
// window with a listed folder and a preview in Czech and in English, the folder
// chooser, the open-picture dialog, and the progress window during a run.
// Usage: ui_window_shots OUT_FOLDER PICTURES_FOLDER PHOTOS_FOLDER
#include "framework/KVLibEXE.h"
#include "framework/KVLibREG.h"
#include "framework/KVMultiLanguage.h"
#include "framework/windows/ErrorBox.h"
#include "framework/windows/ModalRunner.h"
#include "ui/OpenPictureDialog.h"
#include "ui/ProgramWindows.h"
#include "ui/SelectDir.h"

#include "PrivateDesktop.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>

using namespace palvex;

namespace {

QString g_folder;
bool g_failed = false;

void Settle()
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void Save(const QPixmap& pixmap, const char* name)
{
    const QString file = QDir(g_folder).filePath(QString::fromLatin1(name) + ".png");
    if (!pixmap.save(file)) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(file));
        g_failed = true;
    }
}

void Shoot(QWidget& window, const char* name)
{
    Settle();
    Save(window.grab(), name);
}

void SelectEntry(TFormMain& main, const char* name)
{
    const auto found = main.ListView1->findItems(QString::fromLatin1(name), Qt::MatchEndsWith, 0);
    if (!found.isEmpty())
        main.ListView1->setCurrentItem(found.front());
}

} // namespace

int main(int argc, char** argv)
{
    if (!HasArguments(argc, argv, 3, "OUT_FOLDER PICTURES_FOLDER PHOTOS_FOLDER"))
        return 2;
    // Czech in the store; nothing real is touched.
    TPrivateDesktop desktop(argc, argv, kLanguageCzech);
    g_folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_folder);
    const std::string pictures = QDir(QString::fromLocal8Bit(argv[2])).absolutePath().toStdString() + "/";
    const std::string photos = QDir(QString::fromLocal8Bit(argv[3])).absolutePath().toStdString() + "/";

    QTemporaryDir output;
    SetShellOpenHandler([](const std::string&) {});

    TProgramWindows windows = CreateProgramWindows({});
    TFormMain& main = *windows.FormMain;
    main.show();
    Settle();

    main.ListSourceFolder(pictures);
    SelectEntry(main, "portrait.jpg");
    SelectEntry(main, "landscape.jpg");
    main.ListView1->topLevelItem(3)->setCheckState(0, Qt::Checked);
    main.PresetItem("opt6")->trigger();
    Shoot(main, "main-cs");
    for (const auto& [menu, name] : {std::pair{main.Predvolby, "menu-presets-cs"}, {main.Jazyk, "menu-language-cs"}}) {
        menu->popup(main.mapToGlobal(QPoint(0, 0)));
        Shoot(*menu, name);
        menu->hide();
    }

    std::function<void(QDialog&)> onModal;
    SetModalRunner([&](QDialog& dialog) {
        dialog.show();
        Settle();
        if (onModal)
            onModal(dialog);
        dialog.hide();
        return int(QDialog::Rejected);
    });

    onModal = [&](QDialog& dialog) {
        auto* chooser = qobject_cast<TFormSelectDir*>(&dialog);
        if (!chooser)
            return;
        // As it opens: the computer, the root and the home folder, selected.
        Shoot(*chooser, "selectdir-cs");
    };
    main.BitBtn1->click();

    // The progress window during a run of large photos, alone and over the main window.
    main.ListSourceFolder(photos);
    main.BitBtn5->click();
    main.PresetItem("opt2")->trigger();
    onModal = nullptr;
    SetModalRunner(nullptr);
    // Written into a folder of its own, chosen as the chooser would give it.
    const QString target = output.path() + "/";
    main.Edit1->setText(target);
    bool shot = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        TFormProgress& progress = *windows.FormProgress;
        // With all three lines written: the target line comes once the photo is scaled.
        if (shot || !progress.isVisible() || !progress.Label2->text().startsWith("Soubor 2 ") ||
            !progress.Label5->text().startsWith(QString::fromUtf8("Cíl: ")))
            return;
        shot = true;
        Shoot(progress, "progress-cs");
        if (QScreen* screen = progress.screen())
            Save(screen->grabWindow(0), "progress-screen-cs");
    });
    // Zero: at every pass of the run's event loop; the target line shows only
    // between two such passes, which a longer interval could skip.
    watch.start(0);
    main.BitBtn3->click();
    watch.stop();
    if (!shot) {
        std::fprintf(stderr, "the progress window was never seen\n");
        g_failed = true;
    }

    main.MenuEnglish->trigger();
    main.ListSourceFolder(pictures);
    SelectEntry(main, "shapes.png");
    main.ComboBoxEx1->setCurrentIndex(4);
    Shoot(main, "main-en");
    // A photo stored sideways with its EXIF orientation, when the folder has one: upright.
    SelectEntry(main, "turned.jpg");
    Shoot(main, "main-turned");

    SetModalRunner([&](QDialog& dialog) {
        dialog.show();
        Settle();
        if (auto* open = qobject_cast<TOpenPictureDialog*>(&dialog)) {
            open->setDirectory(QString::fromStdString(pictures));
            if (auto* name = open->findChild<QLineEdit*>("fileNameEdit"))
                name->setText(QStringLiteral("landscape.jpg"));
            QElapsedTimer timer;
            timer.start();
            while (!open->PreviewButton->isEnabled() && timer.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            Shoot(*open, "open-picture");
            if (auto* name = open->findChild<QLineEdit*>("fileNameEdit"))
                name->setText(QStringLiteral("turned.jpg"));
            Shoot(*open, "open-picture-turned");
        }
        if (auto* chooser = qobject_cast<TFormSelectDir*>(&dialog)) {
            chooser->SelectPath(QString::fromStdString(pictures));
            Shoot(*chooser, "selectdir-en");
        }
        dialog.hide();
        return int(QDialog::Rejected);
    });
    main.BitBtn2->click();
    main.BitBtn1->click();
    SetModalRunner(nullptr);
    return g_failed ? 1 : 0;
}
