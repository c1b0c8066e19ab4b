// The process's arguments: on Windows the command line split by its quoting
// rule, elsewhere argv as the shell already split it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace palvex {

// Words separated by blanks or control characters outside double quotes; the
// quotes group text and are removed. The first word is the program path.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The arguments after the program path.
std::vector<std::string> ProgramArguments(int argc, char** argv);

} // namespace palvex
