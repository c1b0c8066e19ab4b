// The system's version line, the running program's file and version, the
// memory and the terminal.
#include "platform/SystemInfo.h"

#include "platform/Registry.h"
#include "platform/SplitText.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sched.h>
#endif
#include <thread>

namespace palvex {

std::map<std::string, std::string> ParseOsRelease(std::string_view text)
{
    std::map<std::string, std::string> vars;
    for (std::string_view line : SplitText(text, '\n')) {
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        const size_t eq = line.find('=');
        if (line.empty() || line.front() == '#' || eq == std::string_view::npos || eq == 0)
            continue;
        const std::string name(line.substr(0, eq));
        std::string_view raw = line.substr(eq + 1);
        std::string value;
        char quote = 0;
        for (size_t i = 0; i < raw.size(); ++i) {
            const char c = raw[i];
            if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (quote != 0 && c == quote) {
                quote = 0;
            } else if (quote != '\'' && c == '\\' && i + 1 < raw.size()) {
                value += raw[++i];
            } else if (quote == 0 && (c == ' ' || c == '\t' || c == '\r')) {
                break;
            } else {
                value += c;
            }
        }
        vars[name] = value;
    }
    return vars;
}

std::string SystemTextFromOsRelease(std::string_view text)
{
    const auto vars = ParseOsRelease(text);
    const auto get = [&](const char* name) {
        const auto it = vars.find(name);
        return it == vars.end() ? std::string() : it->second;
    };
    std::string version = get("VERSION");
    if (version.empty())
        version = get("VERSION_ID");
    return get("NAME") + " (version " + version + ")";
}

std::string SystemVersionText()
{
#ifdef _WIN32
    // Every Windows this program builds for is of the NT family.
    TRegistry reg(TRegistryRoot::LocalMachine);
    std::string name;
    std::string version;
    if (reg.OpenKeyReadOnly("\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion")) {
        name = reg.ReadString("ProductName");
        version = reg.ReadString("CurrentVersion");
    }
    return name + " (version " + version + ")";
#else
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path);
        if (!in)
            continue;
        std::stringstream text;
        text << in.rdbuf();
        return SystemTextFromOsRelease(text.str());
    }
    return " (version )";
#endif
}

std::string ProgramFileName()
{
#ifdef _WIN32
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            const int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), static_cast<int>(n), nullptr, 0, nullptr, nullptr);
            std::string out(static_cast<size_t>(bytes), '\0');
            WideCharToMultiByte(CP_UTF8, 0, buffer.data(), static_cast<int>(n), out.data(), bytes, nullptr, nullptr);
            return out;
        }
        buffer.resize(buffer.size() * 2);
    }
#else
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
#endif
}

bool ReadVersionResource([[maybe_unused]] const std::string& fileName, [[maybe_unused]] int numbers[4])
{
#ifdef _WIN32
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, fileName.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength > 0 ? wideLength : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, fileName.c_str(), -1, wide.data(), wideLength);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &handle);
    if (size == 0)
        return false;
    std::vector<unsigned char> info(size);
    if (!GetFileVersionInfoW(wide.c_str(), 0, size, info.data()))
        return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed)
        return false;
    numbers[0] = HIWORD(fixed->dwFileVersionMS);
    numbers[1] = LOWORD(fixed->dwFileVersionMS);
    numbers[2] = HIWORD(fixed->dwFileVersionLS);
    numbers[3] = LOWORD(fixed->dwFileVersionLS);
    return true;
#else
    return false;
#endif
}

uint64_t PhysicalMemoryBytes()
{
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
#else
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
#endif
}

int32_t UsableProcessorCount()
{
#ifdef __linux__
    // A container or taskset may give the process fewer processors than the machine has.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
#elif defined(_WIN32)
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return static_cast<int32_t>(__builtin_popcountll(static_cast<unsigned long long>(process)));
#endif
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? static_cast<int32_t>(count) : 1;
}

bool StandardErrorIsTerminal()
{
#ifdef _WIN32
    return _isatty(2) != 0;
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

std::string EnvironmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

void SetEnvironmentValue(const char* name, const std::string& value)
{
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

bool RunsAsAdministrator()
{
#ifdef _WIN32
    return false;
#else
    return ::geteuid() == 0;
#endif
}

void FlushFileSystems()
{
#ifndef _WIN32
    ::sync();
#endif
}

} // namespace palvex
