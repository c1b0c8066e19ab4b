#include "framework/windows/ModalRunner.h"

#include <QDialog>

namespace palvex {

namespace {

TModalRunner g_runner;

} // namespace

int RunModal(QDialog& dialog)
{
    if (g_runner)
        return g_runner(dialog);
    return dialog.exec();
}

void SetModalRunner(TModalRunner runner) { g_runner = std::move(runner); }

} // namespace palvex
