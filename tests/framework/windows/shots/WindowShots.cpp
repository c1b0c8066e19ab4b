// Saves a PNG of each framework window into the folder given, for a look by eye:
// the about window as the main window sets it up and with every line, both kinds
// of message window and the first-start language chooser.
#include "framework/KVLibEXE.h"
#include "framework/KVMultiLanguage.h"
#include "framework/MakerInfo.h"
#include "framework/windows/ErrorBox.h"
#include "framework/windows/KVLibApp.h"
#include "framework/windows/ModalRunner.h"
#include "platform/Registry.h"

#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include "ProgramArguments.h"

using namespace palvex;

int main(int argc, char** argv)
{
    if (!HasArguments(argc, argv, 1, "folder [0|1]"))
        return 2;
    TReportingApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const int language = argc > 2 ? std::atoi(argv[2]) : kLanguageEnglish;

    // An empty store of its own, so the chooser comes up and nothing real is touched.
    QTemporaryDir store;
    SetRegistryStoreFolder(QDir(store.path()).filePath("Korvane").toStdString());
    SetShellOpenHandler([](const std::string&) {});
    SetApplicationTitle("Korvane Palvex");

    QString name;
    bool failed = false;
    SetModalRunner([&](QDialog& dialog) {
        dialog.show();
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents();
        const QString file = QDir(folder).filePath(name + ".png");
        if (!dialog.grab().save(file)) {
            std::fprintf(stderr, "cannot save %s\n", qPrintable(file));
            failed = true;
        }
        dialog.hide();
        return int(QDialog::Accepted);
    });

    QWidget main;
    main.resize(700, 500);
    TKVApplication component(&main);
    component.RegistryNode = "PalvexShots";
    component.WebPage = kPalvexWebPage;
    CurrentLanguage = language;

    name = "chooser";
    component.StartUp();
    CurrentLanguage = language;
    component.RefreshTexts();

    component.AboutLines = {"Palvex reduces pictures into small JPEG files.",
                            "JPEG code: the Independent JPEG Group's library.", "PNG code: libpng and zlib.",
                            "Thank you for using Palvex."};
    name = "about-main";
    component.ShowAbout();
    component.ShowAddress = true;
    component.ShowPhones = true;
    name = "about-full";
    component.ShowAbout();
    component.AboutLines.clear();
    name = "about-no-lines";
    component.ShowAbout();

    name = "information";
    component.ShowInformation("The pictures were reduced: 12 files written into the target folder.");
    name = "error";
    component.ShowError("Cannot open file \"/pictures/holiday.jpg\". Permission denied");
    return failed ? 1 : 0;
}
