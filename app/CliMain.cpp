// palvex-cli: the unattended run without any window, for scripts and servers.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/CliIntegration.h"
#include "framework/ErrorReport.h"
#include "framework/MakerInfo.h"
#include "imageio/PictureLimits.h"
#include "imageio/decoders/FileFormatList.h"
#include "job/BatchRun.h"
#include "job/CommandLine.h"
#include "platform/CommandLine.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/SystemInfo.h"

using namespace palvex;

namespace {

constexpr const char* kProgram = "palvex-cli";

void PrintHelp()
{
    std::printf("Usage: %s [OPTION...] PATH [OPTION...]\n"
                "Reduces the picture PATH (or, with --folder, every .jpg file of the folder PATH)\n"
                "to JPEG files next to the sources, never overwriting a file.\n"
                "\n"
                "%s"
                "\n"
                "Exit status:\n",
                kProgram, OptionsHelp(kForCli).c_str());
    for (const TExitStatus& status : ExitStatuses())
        std::printf("  %d  %s\n", status.Code, status.Meaning);
}

void PrintVersion()
{
    std::printf("%s %s\n"
                "Copyright (C) %s %s\n"
                "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                "This is free software: you are free to change and redistribute it.\n"
                "There is NO WARRANTY, to the extent permitted by law.\n",
                kProgram, PALVEX_VERSION_TEXT, PALVEX_COPYRIGHT_YEARS, kMakerCompany);
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, message.c_str(), kProgram);
    return kExitUsage;
}

class FixedSettings : public ISettingsSource {
public:
    explicit FixedSettings(ReductionSettings settings) : m_settings(std::move(settings)) {}
    ReductionSettings CurrentSettings() override { return m_settings; }

private:
    ReductionSettings m_settings;
};

class TickedList : public ISourceList {
public:
    explicit TickedList(std::vector<std::string> paths) : m_paths(std::move(paths)) {}
    int32_t Count() override { return static_cast<int32_t>(m_paths.size()); }
    std::optional<TSourceEntry> EntryAt(int32_t position) override
    {
        if (position < 0 || position >= Count())
            return std::nullopt;
        return TSourceEntry{m_paths[static_cast<size_t>(position)], true};
    }

private:
    std::vector<std::string> m_paths;
};

// One self-updating stderr line on a terminal; silent otherwise.
class TerminalProgress : public IProgressView {
public:
    TerminalProgress() : m_enabled(StandardErrorIsTerminal()) {}
    void Show() override {}
    void Hide() override
    {
        if (m_enabled && m_drawn)
            std::fputs("\r\033[K", stderr);
        m_drawn = false;
    }
    void SetBar(int32_t percent) override { m_percent = percent; }
    void SetLine(int32_t line, const std::string& text) override
    {
        if (line == 0)
            m_file = text;
        else if (line == 1)
            m_source = ExtractFileName(text.substr(std::min(text.size(), std::string(kProgressSource).size())));
        if (m_enabled && line == 1) {
            std::fprintf(stderr, "\r\033[K%s (%d %%) %s", m_file.c_str(), m_percent, m_source.c_str());
            std::fflush(stderr);
            m_drawn = true;
        }
    }

private:
    bool m_enabled;
    bool m_drawn = false;
    int32_t m_percent = 0;
    std::string m_file;
    std::string m_source;
};

// One line on stderr, below the progress line.
void ReportError(TerminalProgress& progress, const std::exception& e)
{
    progress.Hide();
    std::fprintf(stderr, "%s: %s\n", kProgram, FormatErrorReport(e.what()).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    if (arguments.empty())
        return UsageError("missing picture or folder PATH");
    if (const std::optional<int> status = RunIntegrationCommand(arguments))
        return *status;

    ReductionSettings settings;
    TCommandLine commandLine;
    try {
        commandLine = ParseCommandLine(arguments, settings);
    } catch (const EUsageError& e) {
        return UsageError(e.what());
    } catch (const EConvertError& e) {
        // A keyword option without its number: the system's own text, one line.
        std::fprintf(stderr, "%s: %s\n", kProgram, FormatErrorReport(e.what()).c_str());
        return kExitUsage;
    }
    if (commandLine.Choices.ShowHelp) {
        PrintHelp();
        return kExitSuccess;
    }
    if (commandLine.Choices.ShowVersion) {
        PrintVersion();
        return kExitSuccess;
    }

    if (commandLine.Choices.MaxPixels != 0)
        SetMaxPicturePixels(commandLine.Choices.MaxPixels);
    TPictureFormatsScope formats;
    TerminalProgress progress;
    try {
        std::vector<std::string> entries = PrepareCommandLineRun(commandLine, settings);
        FixedSettings source(settings);
        TickedList list(std::move(entries));
        TBatchRun run(source, list, progress);
        run.SetJobs(commandLine.Choices.Jobs > 0 ? commandLine.Choices.Jobs : UsableProcessorCount());
        if (commandLine.Choices.KeepGoing)
            run.SetFailureHandler([&progress](const std::exception& e) { ReportError(progress, e); });
        StartRun(run, source, [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
        if (run.FailedCount() > 0)
            return kExitSomeFailed;
    } catch (const std::exception& e) {
        ReportError(progress, e);
        return kExitPictureFailed;
    }
    return kExitSuccess;
}
