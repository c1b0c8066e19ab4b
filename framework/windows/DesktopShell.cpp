#include "framework/windows/DesktopShell.h"

#include "framework/KVLibEXE.h"

#include <QDesktopServices>

namespace palvex {

QUrl AddressUrl(const std::string& address) { return QUrl(QString::fromStdString(address), QUrl::TolerantMode); }

void InstallDesktopShell()
{
    // The shell's failures are not reported: a missing browser is not the program's error.
    SetShellOpenHandler([](const std::string& address) { QDesktopServices::openUrl(AddressUrl(address)); });
}

} // namespace palvex
