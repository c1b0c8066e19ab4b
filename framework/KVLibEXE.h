// KVLibEXE: facts about the running program (title, version, system) and handing
// addresses to the desktop, which the windows layer connects to the shell.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace palvex {

// The application title: kApplicationTitle ("Korvane Palvex") unless start-up sets another.
const std::string& ApplicationTitle();
void SetApplicationTitle(std::string title);

// "version " + version text + " build " + build of the running program's file.
std::string GetVersionText();
// The same for any file, for the about window of another program and for tests.
std::string VersionTextOfFile(const std::string& fileName);
// "NAME (version V)" of the operating system.
std::string GetSystemText();

// Opens an address with its associated program; failures are not reported.
void OpenAddress(std::string_view address);
// Opens "mailto:" + address + "?subject=" + subject + "&body=" + body; the parts go in unchanged.
void ComposeMail(std::string_view address, std::string_view subject, std::string_view body);
std::string MailtoAddress(std::string_view address, std::string_view subject, std::string_view body);

// What opens addresses; the desktop program installs one over the desktop services.
using TShellOpenHandler = std::function<void(const std::string& address)>;
void SetShellOpenHandler(TShellOpenHandler handler);

} // namespace palvex
