// What the desktop program does around its windows: --help and --version
// without any window, its name and icon for the desktop, and the note about a
// damaged settings store once the start-up has read it.
#pragma once

#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace palvex {

// The raw arguments after the program path, before Qt has seen them. When
// --help or --version comes before "--", prints it and returns the exit code.
std::optional<int> RunInformationOption(const std::vector<std::string>& arguments, const char* versionText,
                                        const char* copyrightYears);

// The desktop entry's id, so that the window is matched with its launcher, and
// the window icon: the installed one from the icon theme, else the built-in one.
void SetDesktopIdentity();

// The settings store's note about a file it kept aside, in a warning box over
// parent; nothing when there is none.
void ShowSettingsDamage(QWidget* parent);

} // namespace palvex
