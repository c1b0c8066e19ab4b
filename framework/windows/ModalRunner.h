// How the framework's windows are shown modally. Tests replace the runner so that
// they can look at a window and press its buttons instead of blocking in exec().
#pragma once

#include <functional>

class QDialog;

namespace palvex {

using TModalRunner = std::function<int(QDialog& dialog)>;

// Shows dialog modally and returns its result.
int RunModal(QDialog& dialog);
// An empty runner restores QDialog::exec().
void SetModalRunner(TModalRunner runner);

} // namespace palvex
