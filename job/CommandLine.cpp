#include "job/CommandLine.h"

#include <algorithm>

#include "job/Presets.h"
#include "platform/Files.h"
#include "platform/StrToInt.h"
#include "platform/UpperCase.h"

namespace palvex {

namespace {
constexpr char kDelimiter = '/';

void ApplyPresetNamed(const char* itemName, ReductionSettings& settings)
{
    if (const TPreset* preset = FindPreset(itemName))
        ApplyPreset(*preset, settings);
}

using S = ReductionSettings;
using C = TCommandLineChoices;
using V = TOptionValue;

// The first fourteen rows are the keywords of the context-menu verbs and must keep their order.
constexpr TCommandLineOption kOptions[] = {
    {"/FOLDER", "folder", V::None, kForBoth, "PATH is a folder: reduce every .jpg file in it",
     [](const std::string&, S&, C& c) { c.FolderMode = true; }},
    {"/WIDTH", "width", V::Number, kForBoth, "largest width in pixels",
     [](const std::string& v, S& s, C&) { s.MaxWidth = v; }},
    {"/HEIGHT", "height", V::Number, kForBoth, "largest height in pixels",
     [](const std::string& v, S& s, C&) { s.MaxHeight = v; }},
    {"/QUALITY", "quality", V::Number, kForBoth, "JPEG quality, 1 to 100",
     [](const std::string& v, S& s, C&) { s.SetQuality(StrToInt(v)); }},
    {"/PROCESS", "process", V::Number, kForBoth,
     "filter 0 to 4: None, Linear, Spline, Photo, Advanced",
     [](const std::string& v, S& s, C&) { s.SetFilterIndex(StrToInt(v)); }},
    {"/KEEPASPECTRATIO", "keep-aspect-ratio", V::None, kForBoth, "keep the proportions",
     [](const std::string&, S& s, C&) { s.KeepAspectRatio = true; }},
    {"/DETECTPORTRAIT", "detect-portrait", V::None, kForBoth, "measure portrait pictures by their long side",
     [](const std::string&, S& s, C&) { s.DetectPortrait = true; }},
    {"/CONVERT", "convert", V::None, kForBoth, "only convert to JPEG: quality 100, size kept",
     [](const std::string&, S& s, C&) { ApplyPresetNamed("opt100", s); }},
    {"/PHOTO1015", "photo1015", V::None, kForBoth, "10x15 cm print: long side 1536, quality 90",
     [](const std::string&, S& s, C&) { ApplyPresetNamed("opt9", s); }},
    {"/PHOTO1319", "photo1319", V::None, kForBoth, "13x19 cm print: long side 1920, quality 90",
     [](const std::string&, S& s, C&) { ApplyPresetNamed("opt10", s); }},
    {"/PHOTO1523", "photo1523", V::None, kForBoth, "15x23 cm print: long side 2304, quality 90",
     [](const std::string&, S& s, C&) { ApplyPresetNamed("opt11", s); }},
    {"/PHOTO2030", "photo2030", V::None, kForBoth, "20x30 cm print: long side 3072, quality 90",
     [](const std::string&, S& s, C&) { ApplyPresetNamed("opt12", s); }},
    {"/BASE4", "base4", V::None, kForBoth, "4-Base (prints up to 10x15 cm): long side 1536",
     [](const std::string&, S& s, C&) { ApplyPresetNamed("base4", s); }},
    {"/BASE16", "base16", V::None, kForBoth, "16-Base (prints up to 20x30 cm): long side 3072",
     [](const std::string&, S& s, C&) { ApplyPresetNamed("base16", s); }},
    {"/NOORIENTATION", "no-orientation", V::None, kForBoth,
     "keep the pixels as stored: do not turn photos upright by their EXIF orientation",
     [](const std::string&, S& s, C&) { s.Loading.Orientation = false; }},
    {"/NOPROFILE", "no-profile", V::None, kForBoth,
     "keep the colours as stored: do not convert embedded colour profiles to sRGB",
     [](const std::string&, S& s, C&) { s.Loading.ColorProfile = false; }},
    {nullptr, "max-pixels", V::Number, kForCli,
     "refuse pictures of more than N pixels as invalid before reading them (default and most: 268435456)",
     [](const std::string& v, S&, C& c) {
         // Beyond 20 digits the number only says "no lower limit".
         c.MaxPixels = v.size() > 19 ? UINT64_MAX : std::stoull(v);
         if (c.MaxPixels == 0)
             throw EUsageError("option '--max-pixels' needs a number of pixels above 0");
     }},
    {nullptr, "keep-going", V::None, kForCli, "after a picture fails, go on with the next",
     [](const std::string&, S&, C& c) { c.KeepGoing = true; }},
    // Commands of their own, taken before this table's parsing as the first argument (app/CliIntegration.cpp).
    {nullptr, "integrate", V::None, kForCli,
     "write the file managers' context-menu entries and exit; with --all every preset and type, "
     "with --system for all users (as root)",
     [](const std::string&, S&, C&) {
         throw EUsageError("--integrate is a command of its own: palvex-cli --integrate [--system] [--all]");
     }},
    {nullptr, "remove-integration", V::None, kForCli,
     "remove the context-menu entries and exit; with --system the system-wide ones",
     [](const std::string&, S&, C&) {
         throw EUsageError("--remove-integration is a command of its own: palvex-cli --remove-integration [--system]");
     }},
    {nullptr, "jobs", V::Number, kForCli,
     "reduce N pictures at a time (default: one per usable processor)",
     [](const std::string& v, S&, C& c) {
         const auto digits = v.find_first_not_of('0');
         if (digits == std::string::npos || v.size() - digits > 3 || std::stoi(v) > kMaxJobs)
             throw EUsageError(Format("option '--jobs' needs a number from 1 to %d", kMaxJobs));
         c.Jobs = std::stoi(v);
     }},
    {nullptr, "help", V::None, kForBoth, "show this help and exit",
     [](const std::string&, S&, C& c) { c.ShowHelp = true; }},
    {nullptr, "version", V::None, kForBoth, "show the version and exit",
     [](const std::string&, S&, C& c) { c.ShowVersion = true; }},
};

constexpr TExitStatus kExitStatuses[] = {
    {kExitSuccess, "every picture was written, or there was nothing to do"},
    {kExitPictureFailed, "a picture failed, or the folder could not be listed; the run stopped there"},
    {kExitUsage, "bad options or usage; nothing was written"},
    {kExitSomeFailed, "with --keep-going: pictures failed (each named), the others were written"},
};

const TCommandLineOption* FindLongOption(std::string_view name)
{
    for (const TCommandLineOption& option : kOptions)
        if (option.LongName && name == option.LongName)
            return &option;
    return nullptr;
}

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "/width=N" as people type the keyword.
std::string KeywordForm(const TCommandLineOption& option)
{
    std::string text;
    for (const char* p = option.Keyword; *p; ++p)
        text += (*p >= 'A' && *p <= 'Z') ? static_cast<char>(*p - 'A' + 'a') : *p;
    return option.Value == TOptionValue::Number ? text + "=N" : text;
}

std::string LongForm(const TCommandLineOption& option)
{
    std::string text = std::string("--") + option.LongName;
    return option.Value == TOptionValue::Number ? text + "=N" : text;
}

std::string WithoutTrailingDelimiter(std::string path)
{
    if (!path.empty() && IsPathDelimiter(path.back()))
        path.pop_back();
    return path;
}

void ApplyKeywords(const std::string& argument, ReductionSettings& settings, TCommandLineChoices& choices)
{
    const std::string upper = UpperCase(argument);
    for (const TCommandLineOption& option : kOptions)
        if (option.Keyword && upper.find(option.Keyword) != std::string::npos)
            option.Apply(option.Value == TOptionValue::Number ? DigitsOf(argument) : std::string(), settings,
                         choices);
}

// One long option at arguments[i]; advances i past a separate value.
void ApplyLongOption(const std::vector<std::string>& arguments, size_t& i, ReductionSettings& settings,
                     TCommandLineChoices& choices)
{
    const std::string_view argument = std::string_view(arguments[i]).substr(2);
    const size_t equals = argument.find('=');
    const std::string name(argument.substr(0, equals));
    const TCommandLineOption* option = FindLongOption(name);
    if (!option)
        throw EUsageError(Format("unrecognized option '--%s'", name.c_str()));
    std::string value;
    if (option->Value == TOptionValue::None) {
        if (equals != std::string_view::npos)
            throw EUsageError(Format("option '--%s' doesn't allow an argument", name.c_str()));
    } else {
        if (equals != std::string_view::npos)
            value = std::string(argument.substr(equals + 1));
        else if (i + 1 < arguments.size())
            value = arguments[++i];
        else
            throw EUsageError(Format("option '--%s' requires an argument", name.c_str()));
        if (!AllDigits(value))
            throw EUsageError(Format("option '--%s' needs a whole number, not '%s'", name.c_str(), value.c_str()));
    }
    option->Apply(value, settings, choices);
}
} // namespace

std::span<const TCommandLineOption> CommandLineOptions()
{
    return kOptions;
}

std::span<const TExitStatus> ExitStatuses()
{
    return kExitStatuses;
}

std::string CommandLineHelp(TOptionPrograms program)
{
    constexpr size_t kHelpColumn = 28;
    std::string text;
    for (const TCommandLineOption& option : kOptions) {
        if (!(option.Programs & program))
            continue;
        std::string forms = "  ";
        if (option.LongName)
            forms += LongForm(option);
        if (option.LongName && option.Keyword)
            forms += ", ";
        if (option.Keyword)
            forms += KeywordForm(option);
        forms += forms.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - forms.size(), ' ')
                                                 : "\n" + std::string(kHelpColumn, ' ');
        text += forms + option.Help + "\n";
    }
    return text;
}

std::string OptionsHelp(TOptionPrograms program)
{
    return "Options may come before or after PATH in their long form (--width=800 or\n"
           "--width 800); after PATH also as keywords in any letter case, with \"=\" optional\n"
           "(/width=800, /WIDTH800). Later options overwrite earlier ones.\n"
           "\n" +
           CommandLineHelp(program);
}

std::string DigitsOf(std::string_view argument)
{
    std::string digits;
    for (char c : argument)
        if (c >= '0' && c <= '9')
            digits += c;
    return digits;
}

bool ApplyCommandLineOptions(const std::vector<std::string>& options, ReductionSettings& settings)
{
    TCommandLineChoices choices;
    for (const std::string& option : options)
        ApplyKeywords(option, settings, choices);
    return choices.FolderMode;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments, ReductionSettings& settings)
{
    TCommandLine result;
    if (arguments.empty())
        return result;
    settings.SetScalePercent(kMaxScalePercent);
    bool pathSeen = false;
    bool longOptions = true;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (longOptions && argument == "--") {
            longOptions = false;
        } else if (longOptions && argument.size() > 2 && argument.starts_with("--")) {
            ApplyLongOption(arguments, i, settings, result.Choices);
            if (result.Choices.ShowHelp || result.Choices.ShowVersion)
                return result;
        } else if (!pathSeen) {
            result.Path = argument;
            pathSeen = true;
        } else {
            ApplyKeywords(argument, settings, result.Choices);
        }
    }
    if (!pathSeen)
        throw EUsageError("missing picture or folder PATH");
    return result;
}

std::vector<std::string> PrepareCommandLineRun(const TCommandLine& commandLine, ReductionSettings& settings)
{
    std::vector<std::string> entries;
    const std::string& path = commandLine.Path;
    if (commandLine.Choices.FolderMode) {
        const std::string folder = WithoutTrailingDelimiter(path) + kDelimiter;
        settings.TargetFolder = folder;
        settings.SourceFolder = folder;
        // Sub-folders named like pictures are listed too; the run reports them
        // when it reaches them, like any other unreadable entry.
        for (const TSearchRec& found : ListFolder(folder, "*.jpg"))
            if ((found.Attr & ~faCommon) == 0)
                entries.push_back(folder + found.Name);
    } else {
        std::string dir = WithoutTrailingDelimiter(ExtractFileDir(path));
        // A bare file name means the current folder, not the file system's root.
        if (dir.empty() && (path.empty() || !IsPathDelimiter(path.front())))
            dir.push_back('.');
        settings.TargetFolder = dir + kDelimiter;
        entries.push_back(path);
    }
    settings.AddParameters = true;
    return entries;
}

std::vector<std::string> PrepareUnattendedRun(const std::vector<std::string>& arguments, ReductionSettings& settings)
{
    if (arguments.empty())
        return {};
    const TCommandLine commandLine = ParseCommandLine(arguments, settings);
    if (commandLine.Choices.ShowHelp || commandLine.Choices.ShowVersion)
        return {};
    return PrepareCommandLineRun(commandLine, settings);
}

} // namespace palvex
