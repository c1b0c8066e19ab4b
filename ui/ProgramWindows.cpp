#include "ui/ProgramWindows.h"

namespace palvex {

TProgramWindows CreateProgramWindows(std::vector<std::string> arguments, const TIntegrationDialogMaker& makeIntegration)
{
    TProgramWindows windows;
    windows.FormMain = std::make_unique<TFormMain>(std::move(arguments));
    windows.FormProgress = std::make_unique<TFormProgress>();
    windows.FormMain->SetProgressWindow(windows.FormProgress.get());
    windows.FormInformation = std::make_unique<TFormInformation>();
    windows.FormIntegration = makeIntegration ? makeIntegration() : std::make_unique<QDialog>();
    windows.FormIntegration->setObjectName(QStringLiteral("FormIntegration"));
    windows.FormChooseLanguage = std::make_unique<TFormChooseLanguage>();
    return windows;
}

} // namespace palvex
