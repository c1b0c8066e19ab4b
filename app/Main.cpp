// palvex: the desktop program. The picture formats are registered before any
// window exists; the windows are created in the start-up order, and the
// message loop runs until the main window closes.
#include <QApplication>

#include "framework/KVLibEXE.h"
#include "framework/windows/ErrorBox.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/CommandLine.h"
#include "ui/DesktopStart.h"
#include "ui/ProgramWindows.h"

using namespace palvex;

int main(int argc, char** argv)
{
    // Answered without a window, so also where there is no display.
    if (const auto status = RunInformationOption(ProgramArguments(argc, argv), PALVEX_VERSION_TEXT,
                                                 PALVEX_COPYRIGHT_YEARS))
        return *status;
    TPictureFormatsScope formats;
    TReportingApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("palvex"));
    QApplication::setOrganizationName(QStringLiteral("Korvane"));
    SetDesktopIdentity();
    SetApplicationTitle("Korvane Palvex");

    // Qt has taken its own options (-platform and the like) out of argv by now.
    TProgramWindows windows = CreateProgramWindows(ProgramArguments(argc, argv));
    windows.FormMain->show();
    return QApplication::exec();
}
