// The argument check of the programs beside the tests that save window pictures
// or measure the windows.
#pragma once

#include <cstdio>

namespace palvex {

// False, with the usage line on stderr, when fewer than count arguments follow
// the program's name.
inline bool HasArguments(int argc, char** argv, int count, const char* usage)
{
    if (argc > count)
        return true;
    std::fprintf(stderr, "usage: %s %s\n", argv[0], usage);
    return false;
}

} // namespace palvex
