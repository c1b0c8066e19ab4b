#include "app/CliIntegration.h"

#include "framework/ErrorReport.h"
#include "framework/KVMultiLanguage.h"
#include "job/CommandLine.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"
#include "shell/ShellIntegration.h"
#include "ui/texts/InterfaceTexts.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string_view>

namespace palvex {

namespace {

constexpr const char* kSystemStoreFolder = "/etc/xdg/Korvane";
constexpr const char* kIntegrateCommand = "integrate";
constexpr const char* kRemoveCommand = "remove-integration";

// The entries start the desktop program, which is installed beside palvex-cli.
std::string DesktopProgramPath()
{
    return (std::filesystem::path(ProgramFileName()).parent_path() / "palvex").string();
}

void PrintStoreReport()
{
    const std::string report = TakeRegistryDamageReport();
    size_t start = 0;
    while (start < report.size()) {
        const size_t end = std::min(report.find('\n', start), report.size());
        std::fprintf(stderr, "palvex-cli: %s\n", FormatErrorReport(report.substr(start, end - start)).c_str());
        start = end + 1;
    }
}

} // namespace

std::optional<int> RunIntegrationCommand(const std::vector<std::string>& arguments)
{
    // The option table lists the two commands (and --help shows them from it); they are read here.
    const auto isCommand = [&](const char* name) {
        return !arguments.empty() && arguments[0] == std::string("--") + name &&
               std::any_of(CommandLineOptions().begin(), CommandLineOptions().end(),
                           [name](const TCommandLineOption& option) {
                               return option.LongName && std::string_view(option.LongName) == name;
                           });
    };
    const bool integrate = isCommand(kIntegrateCommand);
    if (!integrate && !isCommand(kRemoveCommand))
        return std::nullopt;
    bool system = false;
    bool all = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--system") {
            system = true;
        } else if (arguments[i] == "--all" && integrate) {
            all = true;
        } else {
            std::fprintf(stderr, "palvex-cli: %s does not take \"%s\"\n", arguments[0].c_str(), arguments[i].c_str());
            return 2;
        }
    }
    if (system && !RunsAsAdministrator()) {
        std::fprintf(stderr,
                     "palvex-cli: --system writes the system-wide folders (/usr/share, /etc/xdg) and needs root; "
                     "run it as root, for example with sudo.\n");
        return 1;
    }
    if (system)
        SetRegistryStoreFolder(kSystemStoreFolder);
    const TFileManagerFolders folders = system ? SystemFileManagerFolders() : UserFileManagerFolders();
    int status = 0;
    try {
        if (integrate) {
            // The labels speak the language the desktop program was last set to.
            RegistryNodeName = "Palvex";
            LoadLanguage();
            FillMainWindowTexts(CurrentLanguage);
            const std::string program = DesktopProgramPath();
            if (!std::filesystem::exists(program))
                std::fprintf(stderr, "palvex-cli: note: the entries start \"%s\", which is not there yet.\n",
                             program.c_str());
            IntegrateShell(all ? FullIntegrationChoice() : DefaultIntegrationChoice(), program, folders);
            std::printf("Context-menu entries written for Dolphin, Nemo, Thunar, FileManager-Actions (Caja, "
                        "PCManFM)%s.\n",
                        system ? "" : " and Nautilus");
        } else {
            RemoveShellIntegration(folders);
            std::printf("Context-menu entries removed.\n");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "palvex-cli: %s\n", FormatErrorReport(e.what()).c_str());
        status = 1;
    }
    PrintStoreReport();
    return status;
}

} // namespace palvex
