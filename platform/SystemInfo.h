// What the system says about itself and the running program: its name and
// version as one line ("NAME (version V)"), the program's file and version
// resource, the physical memory, whether error output goes to a terminal,
// the processors it may use, the environment and the user's rights.
#pragma once

#include <cstdint>
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

// The four numbers of a program file's version resource; false where the
// system has no such resources (everywhere but Windows) or the file has none.
bool ReadVersionResource(const std::string& fileName, int numbers[4]);

// Bytes of physical memory; 0 when the system does not say.
uint64_t PhysicalMemoryBytes();

// The processors this process may run on (its affinity); at least 1.
int32_t UsableProcessorCount();

// True when the standard error stream is a terminal, where a progress line
// may redraw itself.
bool StandardErrorIsTerminal();

// An environment variable's value; empty when it is unset.
std::string EnvironmentValue(const char* name);
void SetEnvironmentValue(const char* name, const std::string& value);

// True when the program runs with the administrator's rights (root).
bool RunsAsAdministrator();

// Every file system's pending writes on the disk.
void FlushFileSystems();

} // namespace palvex
