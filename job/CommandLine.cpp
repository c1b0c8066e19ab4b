#include "job/CommandLine.h"

#include <algorithm>

#include "job/Presets.h"
#include "platform/Files.h"
#include "platform/StrToInt.h"
#include "platform/UpperCase.h"

namespace palvex {

namespace {
constexpr char kDelimiter = '/';

std::string WithoutTrailingDelimiter(std::string path)
{
    if (!path.empty() && IsPathDelimiter(path.back()))
        path.pop_back();
    return path;
}

void ApplyPresetNamed(const char* itemName, ReductionSettings& settings)
{
    if (const TPreset* preset = FindPreset(itemName))
        ApplyPreset(*preset, settings);
}
} // namespace

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
    bool folderMode = false;
    for (const std::string& option : options) {
        const std::string upper = UpperCase(option);
        auto has = [&](const char* keyword) { return upper.find(keyword) != std::string::npos; };
        if (has("/FOLDER"))
            folderMode = true;
        if (has("/WIDTH"))
            settings.MaxWidth = DigitsOf(option);
        if (has("/HEIGHT"))
            settings.MaxHeight = DigitsOf(option);
        if (has("/QUALITY"))
            settings.SetQuality(StrToInt(DigitsOf(option)));
        if (has("/PROCESS"))
            settings.SetFilterIndex(StrToInt(DigitsOf(option)));
        if (has("/KEEPASPECTRATIO"))
            settings.KeepAspectRatio = true;
        if (has("/DETECTPORTRAIT"))
            settings.DetectPortrait = true;
        if (has("/CONVERT"))
            ApplyPresetNamed("opt100", settings);
        if (has("/PHOTO1015"))
            ApplyPresetNamed("opt9", settings);
        if (has("/PHOTO1319"))
            ApplyPresetNamed("opt10", settings);
        if (has("/PHOTO1523"))
            ApplyPresetNamed("opt11", settings);
        if (has("/PHOTO2030"))
            ApplyPresetNamed("opt12", settings);
        if (has("/BASE4"))
            ApplyPresetNamed("base4", settings);
        if (has("/BASE16"))
            ApplyPresetNamed("base16", settings);
    }
    return folderMode;
}

std::vector<std::string> PrepareUnattendedRun(const std::vector<std::string>& arguments, ReductionSettings& settings)
{
    std::vector<std::string> entries;
    if (arguments.empty())
        return entries;
    settings.SetScalePercent(kMaxScalePercent);
    const std::vector<std::string> options(arguments.begin() + 1, arguments.end());
    const bool folderMode = ApplyCommandLineOptions(options, settings);
    const std::string& path = arguments[0];
    if (folderMode) {
        const std::string folder = WithoutTrailingDelimiter(path) + kDelimiter;
        settings.TargetFolder = folder;
        settings.SourceFolder = folder;
        // Sub-folders named like pictures are listed too; the run reports them
        // when it reaches them, like any other unreadable entry.
        for (const TSearchRec& found : FindFiles(folder, "*.jpg"))
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

} // namespace palvex
