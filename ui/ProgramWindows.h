// The desktop program's windows, created in the start-up order: the main
// window, the progress window, the information window, the integration dialog
// and the language chooser, all but the main window hidden.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/windows/FormChooseLanguage.h"
#include "framework/windows/KVAppShowInfo.h"
#include "ui/Main.h"
#include "ui/Progress.h"

namespace palvex {

struct TProgramWindows {
    // Members go in reverse: the main window last, after the windows it uses.
    std::unique_ptr<TFormMain> FormMain;
    std::unique_ptr<TFormProgress> FormProgress;
    std::unique_ptr<TFormInformation> FormInformation;
    std::unique_ptr<QDialog> FormIntegration;
    std::unique_ptr<TFormChooseLanguage> FormChooseLanguage;
};

// Makes the integration dialog in its place of the order; without one, a
// hidden empty dialog holds the place.
using TIntegrationDialogMaker = std::function<std::unique_ptr<QDialog>()>;

// arguments: the program's arguments after its path.
TProgramWindows CreateProgramWindows(std::vector<std::string> arguments,
                                     const TIntegrationDialogMaker& makeIntegration = {});

} // namespace palvex
