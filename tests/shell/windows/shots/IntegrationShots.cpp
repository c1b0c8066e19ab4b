// Saves PNGs of the integration dialog, as the File menu shows it, in Czech and
// in English, for a look by eye. Usage: integration_dialog_shots OUT_FOLDER
#include "framework/KVLibEXE.h"
#include "framework/KVMultiLanguage.h"
#include "framework/windows/ErrorBox.h"
#include "shell/windows/FormIntegration.h"

#include <QDir>

#include <cstdio>

#include "ProgramArguments.h"

using namespace palvex;

int main(int argc, char** argv)
{
    if (!HasArguments(argc, argv, 1, "OUT_FOLDER"))
        return 2;
    TReportingApplication app(argc, argv);
    SetApplicationTitle("Korvane Palvex");
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(folder.path());
    TFormIntegration dialog;
    bool failed = false;
    for (const auto& [language, name] : {std::pair{kLanguageCzech, "integration-cs"}, {kLanguageEnglish, "integration-en"}}) {
        CurrentLanguage = language;
        dialog.show();
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const QString file = folder.filePath(QString::fromLatin1(name) + ".png");
        if (!dialog.grab().save(file)) {
            std::fprintf(stderr, "cannot save %s\n", qPrintable(file));
            failed = true;
        }
        std::printf("%s: %dx%d\n", name, dialog.width(), dialog.height());
        dialog.hide();
    }
    return failed ? 1 : 0;
}
