#include "shell/ShellVerbs.h"

#include "framework/KVMultiLanguage.h"
#include "platform/Registry.h"

#include <algorithm>
#include <string_view>

namespace palvex {

namespace {

constexpr TShellFileType kFileTypes[kShellFileTypeCount] = {
    {"", 41},      {".jpg", 1},   {".jpeg", 2},  {".gif", 3},   {".tif", 4},   {".tiff", 5},  {".ico", 6},
    {".bmp", 40},  {".emf", 7},   {".wmf", 8},   {".png", 9},   {".psp", 10},  {".cut", 11},  {".pcd", 12},
    {".pic", 13},  {".cel", 14},  {".pbm", 15},  {".pgm", 16},  {".ppm", 17},  {".pdd", 18},  {".psd", 19},
    {".bw", 20},   {".rgb", 21},  {".rgba", 22}, {".sgi", 23},  {".rla", 24},  {".rpf", 25},  {".scr", 26},
    {".pcc", 27},  {".pcx", 28},  {".eps", 29},  {".fax", 30},  {".icb", 31},  {".tga", 32},  {".vda", 33},
    {".vst", 34},  {".win", 35},  {".dib", 36},  {".rle", 37},  {".jpe", 38},  {".jfif", 39},
};

constexpr TShellVerb kVerbs[kShellVerbCount] = {
    {"KVPX01", 49, 201, "/keepaspectratio /width=800 /height=600 /quality=50 /process=2"},
    {"KVPX02", 50, 202, "/keepaspectratio /width=1024 /height=768 /quality=50 /process=2"},
    {"KVPX03", 51, 203, "/keepaspectratio /width=1280 /height=1024 /quality=50 /process=2"},
    {"KVPX04", 52, 204, "/keepaspectratio /width=1600 /height=1200 /quality=50 /process=2"},
    {"KVPX05", 53, 205, "/keepaspectratio /width=800 /height=600 /quality=80 /process=2"},
    {"KVPX06", 54, 206, "/keepaspectratio /width=1024 /height=768 /quality=80 /process=2"},
    {"KVPX07", 55, 207, "/keepaspectratio /width=1280 /height=1024 /quality=80 /process=2"},
    {"KVPX08", 56, 208, "/keepaspectratio /width=1600 /height=1200 /quality=80 /process=2"},
    {"KVPX09", 57, 209, "/photo1015"},
    {"KVPX10", 58, 210, "/photo1319"},
    {"KVPX11", 59, 221, "/photo1523"},
    {"KVPX12", 60, 222, "/photo2030"},
    {"KVPX13", 61, 226, "/base4"},
    {"KVPX14", 62, 227, "/base16"},
    {"KVPX99", 63, 225, "/convert"},
};

template <typename Table>
int IndexOfCheckBox(const Table& table, int checkBox)
{
    const auto it = std::find_if(std::begin(table), std::end(table), [&](const auto& row) { return row.CheckBox == checkBox; });
    return static_cast<int>(it - std::begin(table));
}

} // namespace

std::span<const TShellFileType> ShellFileTypes() { return kFileTypes; }

std::span<const TShellVerb> ShellVerbs() { return kVerbs; }

TIntegrationChoice DefaultIntegrationChoice()
{
    TIntegrationChoice choice;
    for (const int checkBox : {1, 2, 4, 5, 38, 39, 40, 41})
        choice.FileTypes[static_cast<size_t>(IndexOfCheckBox(kFileTypes, checkBox))] = true;
    for (const int checkBox : {53, 57, 63})
        choice.Verbs[static_cast<size_t>(IndexOfCheckBox(kVerbs, checkBox))] = true;
    return choice;
}

TIntegrationChoice FullIntegrationChoice()
{
    TIntegrationChoice choice;
    choice.FileTypes.fill(true);
    choice.Verbs.fill(true);
    return choice;
}

std::string VerbCaption(const TShellVerb& verb) { return kVerbCaptionPrefix + GetText(verb.TextNumber); }

std::string VerbCommandLine(const std::string& programPath, const TShellVerb& verb, bool folder)
{
    return "\"" + programPath + "\" \"%1\" " + verb.Options + (folder ? " /folder" : "");
}

void RegisterShellVerb(const std::string& caption, const std::string& defaultTypeName, const std::string& verbKey,
                       const std::string& extension, const std::string& commandLine)
{
    TRegistry reg(TRegistryRoot::ClassesRoot);
    std::string fileType = kFolderFileType;
    if (!extension.empty()) {
        const std::string extensionKey = "\\" + extension;
        std::string existing;
        if (reg.KeyExists(extensionKey)) {
            if (reg.OpenKey(extensionKey, false))
                existing = reg.ReadString("");
        } else {
            reg.CreateKey(extensionKey);
            if (reg.OpenKey(extensionKey, true))
                reg.WriteString("", defaultTypeName);
        }
        fileType = existing.empty() ? defaultTypeName : existing;
        // An extension key with an empty or missing type is pointed at ours.
        if (existing.empty() && reg.HasCurrentKey())
            reg.WriteString("", defaultTypeName);
        reg.CloseKey();
    }
    const std::string typeKey = "\\" + fileType;
    const std::string verbPath = typeKey + "\\Shell\\" + verbKey;
    if (!reg.KeyExists(typeKey))
        reg.CreateKey(typeKey);
    reg.CreateKey(typeKey + "\\Shell");
    reg.CreateKey(verbPath);
    if (reg.OpenKey(verbPath, false))
        reg.WriteString("", caption);
    reg.CreateKey(verbPath + "\\Command");
    if (reg.OpenKey(verbPath + "\\Command", false))
        reg.WriteString("", commandLine);
    reg.CloseKey();
}

void UnregisterShellVerb(const std::string& extension, const std::string& verbKey)
{
    TRegistry reg(TRegistryRoot::ClassesRoot);
    std::string fileType = kFolderFileType;
    if (!extension.empty()) {
        fileType.clear();
        if (reg.OpenKeyReadOnly("\\" + extension))
            fileType = reg.ReadString("");
        reg.CloseKey();
    }
    if (!fileType.empty() && reg.KeyExists("\\" + fileType))
        reg.DeleteKey("\\" + fileType + "\\Shell\\" + verbKey);
}

void WriteShellVerbs(const TIntegrationChoice& choice, const std::string& programPath)
{
    RemoveShellVerbs();
    for (size_t type = 0; type < std::size(kFileTypes); ++type) {
        if (!choice.FileTypes[type])
            continue;
        const std::string extension = kFileTypes[type].Extension;
        for (size_t verb = 0; verb < std::size(kVerbs); ++verb)
            if (choice.Verbs[verb])
                RegisterShellVerb(VerbCaption(kVerbs[verb]), kPalvexFileType, kVerbs[verb].Key, extension,
                                  VerbCommandLine(programPath, kVerbs[verb], extension.empty()));
    }
}

void RemoveShellVerbs()
{
    for (const TShellFileType& type : kFileTypes)
        for (const TShellVerb& verb : kVerbs)
            UnregisterShellVerb(type.Extension, verb.Key);
}

} // namespace palvex
