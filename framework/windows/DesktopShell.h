// Connects the framework's address opening (OpenAddress, ComposeMail) to the
// desktop's associated programs.
#pragma once

#include <QUrl>

#include <string>

namespace palvex {

// The address as the desktop gets it; percent-encoded parts such as a mail body's
// "%09" and "%0D%0A" stay encoded so the mail program decodes them.
QUrl AddressUrl(const std::string& address);

// Makes OpenAddress hand its addresses to QDesktopServices.
void InstallDesktopShell();

} // namespace palvex
