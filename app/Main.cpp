// palvex: the desktop program. The picture formats are registered before any
// window exists; the windows are created in the start-up order, and the
// message loop runs until the main window closes.
#include <QApplication>

#include "app/Selection.h"
#include "framework/KVLibEXE.h"
#include "framework/windows/ErrorBox.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/CommandLine.h"
#include "platform/SystemInfo.h"
#include "shell/windows/FormIntegration.h"
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
    // A file manager's selection may go to a palvex already running it.
    TSelectionStart start(ProgramArguments(argc, argv));
    if (start.Done())
        return 0;
    TProgramWindows windows = CreateProgramWindows(start.WindowArguments(), MakeFormIntegration);
    ConnectShellIntegration(windows, ProgramFileName());
    start.Serve(*windows.FormMain);
    windows.FormMain->show();
    return QApplication::exec();
}
