// palvex: the desktop program. The picture formats are registered before any
// window exists; the windows are created in the start-up order, and the
// message loop runs until the main window closes.
#include <QApplication>

#include "framework/KVLibEXE.h"
#include "framework/windows/ErrorBox.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/CommandLine.h"
#include "ui/ProgramWindows.h"

using namespace palvex;

int main(int argc, char** argv)
{
    TPictureFormatsScope formats;
    TReportingApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("palvex"));
    QApplication::setOrganizationName(QStringLiteral("Korvane"));
    SetApplicationTitle("Korvane Palvex");

    // Qt has taken its own options (-platform and the like) out of argv by now.
    TProgramWindows windows = CreateProgramWindows(ProgramArguments(argc, argv));
    windows.FormMain->show();
    return QApplication::exec();
}
