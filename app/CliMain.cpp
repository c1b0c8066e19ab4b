// palvex-cli: the unattended run without any window, for scripts and servers.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "framework/ErrorReport.h"
#include "imageio/decoders/FileFormatList.h"
#include "job/BatchRun.h"
#include "job/CommandLine.h"
#include "platform/CommandLine.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/SystemInfo.h"

using namespace palvex;

namespace {

constexpr const char* kUsage =
    "Usage: palvex-cli PATH [OPTION...]\n"
    "Reduces the picture PATH (or, with /folder, every .jpg file of the folder PATH)\n"
    "to JPEG files next to the sources, never overwriting a file.\n"
    "\n"
    "Options (any letter case; text around the keyword is ignored):\n"
    "  /width=N /height=N     largest width and height\n"
    "  /quality=N             JPEG quality 1..100\n"
    "  /process=N             filter 0 none, 1 linear, 2 curve, 3 photo, 4 advanced\n"
    "  /keepaspectratio       keep the proportions\n"
    "  /detectportrait        measure portrait pictures by their long side\n"
    "  /convert               only convert to JPEG at quality 100\n"
    "  /photo1015 /photo1319 /photo1523 /photo2030 /base4 /base16\n"
    "                         photo-print presets\n"
    "  /folder                PATH is a folder\n"
    "  --help                 show this text\n"
    "  --version              show the version\n";

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

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    if (arguments.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (arguments[0] == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (arguments[0] == "--version") {
        std::printf("palvex-cli %s\n", PALVEX_VERSION_TEXT);
        return 0;
    }

    TPictureFormatsScope formats;
    TerminalProgress progress;
    try {
        ReductionSettings settings;
        std::vector<std::string> entries = PrepareUnattendedRun(arguments, settings);
        FixedSettings source(settings);
        TickedList list(std::move(entries));
        TBatchRun run(source, list, progress);
        StartRun(run, source, [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    } catch (const std::exception& e) {
        progress.Hide();
        std::fprintf(stderr, "palvex-cli: %s\n", FormatErrorReport(e.what()).c_str());
        return 1;
    }
    return 0;
}
