#include "ui/DesktopStart.h"

#include <QApplication>
#include <algorithm>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>

#include "framework/ErrorReport.h"
#include "framework/KVLibEXE.h"
#include "framework/MakerInfo.h"
#include "framework/windows/ModalRunner.h"
#include "job/CommandLine.h"
#include "platform/Registry.h"

// The built-in icon lives in this static library; its resources must be registered by hand.
static void InitIconResources() { Q_INIT_RESOURCE(PalvexIcons); }

namespace palvex {

namespace {

constexpr const char* kProgram = "palvex";
constexpr const char* kDesktopId = "cz.korvane.Palvex";

void PrintHelp()
{
    std::printf("Usage: %s [PATH]\n"
                "  or:  %s [OPTION...] PATH [OPTION...]\n"
                "Opens the window of Palvex, which reduces pictures to smaller JPEG files.\n"
                "With a picture PATH alone, the window lists the picture's folder and previews\n"
                "the picture; with a folder PATH alone, it lists that folder. Nothing is written\n"
                "until you press Start.\n"
                "\n"
                "With options as well, the run is unattended: the picture (or, with --folder,\n"
                "every .jpg file of the folder PATH) is reduced to JPEG files next to the\n"
                "sources while the progress window shows how far it has come, and the program\n"
                "ends; when a picture fails, the error is shown and the window stays open.\n"
                "%s"
                "\n"
                "The same job without a window: palvex-cli --help.\n",
                kProgram, kProgram, OptionsHelp(kForDesktop).c_str());
}

void PrintVersion(const char* versionText, const char* copyrightYears)
{
    std::printf("%s %s\n"
                "Copyright (C) %s %s\n"
                "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                "This is free software: you are free to change and redistribute it.\n"
                "There is NO WARRANTY, to the extent permitted by law.\n",
                kProgram, versionText, copyrightYears, kMakerCompany);
}

} // namespace

std::optional<int> RunInformationOption(const std::vector<std::string>& arguments, const char* versionText,
                                        const char* copyrightYears)
{
    for (const std::string& argument : arguments) {
        if (argument == "--")
            break;
        if (argument == "--help") {
            PrintHelp();
            return kExitSuccess;
        }
        if (argument == "--version") {
            PrintVersion(versionText, copyrightYears);
            return kExitSuccess;
        }
    }
    return std::nullopt;
}

void SetDesktopIdentity()
{
    InitIconResources();
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
    QIcon builtIn;
    for (int size : {16, 32, 48, 64, 128, 256})
        builtIn.addFile(QStringLiteral(":/palvex/palvex-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(kDesktopId), builtIn));
}

void ShowSettingsDamage(QWidget* parent)
{
    const std::string report = TakeRegistryDamageReport();
    if (report.empty())
        return;
    // One sentence per file kept aside, each with its full stop.
    QString text;
    size_t start = 0;
    while (start < report.size()) {
        const size_t end = std::min(report.find('\n', start), report.size());
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) +
                QString::fromStdString(FormatErrorReport(report.substr(start, end - start)));
        start = end + 1;
    }
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(ApplicationTitle()), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("SettingsDamage"));
    RunModal(box);
}

} // namespace palvex
