// The operating system's name and version as one line: "NAME (version V)".
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace palvex {

// On Windows the product name and version from the registry; elsewhere the
// name and version from os-release. Missing parts stay empty.
std::string SystemVersionText();

// The variables of an os-release file, with its shell-like quoting undone.
std::map<std::string, std::string> ParseOsRelease(std::string_view text);
std::string SystemTextFromOsRelease(std::string_view text);

// The full path of the running program's file; empty when the system does not say.
std::string ProgramFileName();

} // namespace palvex
