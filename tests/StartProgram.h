// Test programs that run another program as a process, its output captured in files.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace palvex::test {

// Starts argv[0] (searched on PATH when it has no slash) with stdout into
// outFile and stderr into errFile, in workDir unless that is empty. Returns
// the child's id, or -1; a child that cannot set itself up exits with 127.
inline pid_t StartProgram(const std::vector<std::string>& argv, const std::filesystem::path& outFile,
                          const std::filesystem::path& errFile, const std::filesystem::path& workDir = {})
{
    std::vector<std::string> args = argv;
    std::vector<char*> raw;
    for (std::string& a : args)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
            (!workDir.empty() && ::chdir(workDir.c_str()) != 0))
            ::_exit(127);
        ::execvp(raw[0], raw.data());
        ::_exit(127);
    }
    return pid;
}

} // namespace palvex::test
