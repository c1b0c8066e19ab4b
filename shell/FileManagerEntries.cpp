#include "shell/FileManagerEntries.h"

#include "platform/Errors.h"
#include "platform/Registry.h"
#include "platform/ReplaceFile.h"
#include "platform/SystemInfo.h"
#include "platform/UpperCase.h"
#include "shell/EntryCommand.h"
#include "shell/MimeGlobs.h"
#include "shell/ShellVerbs.h"
#include "shell/ThunarActions.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace palvex {

namespace fs = std::filesystem;

namespace {

constexpr const char* kServiceMenuName = "palvex-integration.desktop";
constexpr const char* kRecordHeader =
    "# Folders and files that Palvex made for its file-manager entries; removing the\n"
    "# integration removes them again when nothing else is in them.\n";

// An absolute folder from the variable, else empty (relative values are to be ignored).
std::string EnvFolder(const char* name)
{
    const std::string value = EnvironmentValue(name);
    return !value.empty() && value[0] == '/' ? value : std::string();
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

std::optional<std::string> ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A string value of a desktop entry or GLib key file.
std::string KeyFileValue(std::string_view text)
{
    std::string out = Escaped(text, {{'\\', "\\\\"}, {'\n', "\\n"}, {'\t', "\\t"}, {'\r', "\\r"}});
    if (!out.empty() && out.front() == ' ')
        out.replace(0, 1, "\\s");
    return out;
}

// The entry's command with the selected paths as field code %F; a "%" of the
// program's own path is doubled, as field codes want.
std::string EntryExec(const TStoredVerb& verb)
{
    std::string command;
    for (const char c : EntryCommandPrefix(verb.Program, verb.Options)) {
        command += c;
        if (c == '%')
            command += '%';
    }
    return command + " %F";
}

std::string Joined(const std::vector<std::string>& items, std::string_view before, std::string_view after)
{
    std::string out;
    for (const std::string& item : items)
        out += std::string(before) + item + std::string(after);
    return out;
}

std::string VerbFileName(const TStoredVerb& verb, std::string_view suffix)
{
    return "palvex-" + Lower(verb.Key) + std::string(suffix);
}

struct TEntryFile {
    std::string Path;
    std::string Content;
    unsigned Mode;
};

std::string ServiceMenu(const std::vector<TStoredVerb>& verbs)
{
    std::vector<std::string> extensions;
    bool folders = false;
    for (const TStoredVerb& verb : verbs) {
        for (const std::string& extension : verb.Extensions)
            if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end())
                extensions.push_back(extension);
        folders = folders || verb.Folders;
    }
    std::vector<std::string> types = PictureMimeTypes(extensions);
    if (folders)
        types.emplace_back("inode/directory");
    if (types.empty())
        return {};
    std::string text = std::string(kEntryMark) + "\n[Desktop Entry]\nType=Service\nName=Palvex\nIcon=" +
                       kProgramIconName + "\nMimeType=" + Joined(types, "", ";") + "\nActions=";
    for (const TStoredVerb& verb : verbs)
        text += verb.Key + ";";
    text += "\nX-KDE-Submenu=Palvex\nX-KDE-Priority=TopLevel\n";
    for (const TStoredVerb& verb : verbs)
        text += "\n[Desktop Action " + verb.Key + "]\nName=" + KeyFileValue(verb.Label) + "\nIcon=" +
                kProgramIconName + "\nExec=" + KeyFileValue(EntryExec(verb)) + "\n";
    return text;
}

std::string NemoAction(const TStoredVerb& verb)
{
    std::vector<std::string> extensions = verb.Extensions;
    if (verb.Folders)
        extensions.emplace_back("dir");
    return std::string(kEntryMark) + "\n[Nemo Action]\nName=" + KeyFileValue(verb.Label) +
           "\nComment=" + KeyFileValue(verb.Label) + "\nExec=" + KeyFileValue(EntryExec(verb)) +
           "\nIcon-Name=" + kProgramIconName + "\nSelection=notnone\nExtensions=" + Joined(extensions, "", ";") +
           "\nQuote=double\n";
}

std::string FileManagerAction(const TStoredVerb& verb)
{
    const std::string exec = "Exec=" + KeyFileValue(EntryExec(verb)) + "\n";
    const std::string name = "Name=" + KeyFileValue(verb.Label) + "\n";
    std::string profiles;
    std::string groups;
    if (!verb.Extensions.empty()) {
        profiles += "pictures;";
        groups += "\n[X-Action-Profile pictures]\n" + name + "MimeTypes=all/allfiles;\nBasenames=" +
                  Joined(verb.Extensions, "*.", ";") + "\nMatchcase=false\n" + exec;
    }
    if (verb.Folders) {
        profiles += "folders;";
        groups += "\n[X-Action-Profile folders]\n" + name + "MimeTypes=inode/directory;\n" + exec;
    }
    return std::string(kEntryMark) + "\n[Desktop Entry]\nType=Action\n" + name + "Icon=" + kProgramIconName +
           "\nProfiles=" + profiles + "\n" + groups;
}

// Any letter case of the extension, as a sh pattern.
std::string AnyCasePattern(std::string_view extension)
{
    std::string pattern = "*.";
    for (const char c : extension) {
        if (c >= 'a' && c <= 'z')
            pattern += std::string("[") + c + static_cast<char>(c - 32) + "]";
        else
            pattern += c;
    }
    return pattern;
}

// Nautilus offers every script for every file: the script keeps the paths it
// is meant for and does nothing, silently, when none is left.
std::string NautilusScript(const TStoredVerb& verb)
{
    std::string text = "#!/bin/sh\n" + std::string(kEntryMark) + "\n# " + verb.Key + ": " + verb.Label +
                       "\nfor path do\n  shift\n  if [ -d \"$path\" ]; then\n";
    text += verb.Folders ? "    set -- \"$@\" \"$path\"\n" : "    :\n";
    text += "  else\n    case $path in\n";
    if (!verb.Extensions.empty()) {
        text += "      ";
        for (size_t i = 0; i < verb.Extensions.size(); ++i)
            text += (i ? "|" : "") + AnyCasePattern(verb.Extensions[i]);
        text += ") set -- \"$@\" \"$path\" ;;\n";
    }
    text += "    esac\n  fi\ndone\n[ \"$#\" -gt 0 ] || exit 0\nexec " + EntryCommandPrefix(verb.Program, verb.Options) +
            " \"$@\"\n";
    return text;
}

// A label as a file name: a slash cannot be in one, the division slash looks the same.
std::string ScriptFileName(const TStoredVerb& verb)
{
    std::string name;
    for (const char c : verb.Label)
        name += c == '/' ? std::string("\xE2\x88\x95") : std::string(1, c);
    if (name.empty() || name.front() == '.')
        name = verb.Key + " " + name;
    return name;
}

std::string ThunarActions(const std::vector<TStoredVerb>& verbs)
{
    std::string actions;
    for (const TStoredVerb& verb : verbs) {
        const std::string id = VerbFileName(verb, "");
        if (!verb.Extensions.empty()) {
            std::vector<std::string> patterns;
            for (const std::string& extension : verb.Extensions) {
                patterns.push_back("*." + extension);
                patterns.push_back("*." + UpperCase(extension));
            }
            std::string list = Joined(patterns, "", ";");
            list.pop_back();
            actions += ThunarAction(id, verb.Label, kProgramIconName, EntryExec(verb), list,
                                    {"image-files", "other-files"});
        }
        if (verb.Folders)
            actions += ThunarAction(id + "-folders", verb.Label, kProgramIconName, EntryExec(verb), "*",
                                    {"directories"});
    }
    return actions;
}

std::string NautilusFolder(const TFileManagerFolders& folders) { return folders.DataHome + "/nautilus/scripts/Palvex"; }

std::vector<TEntryFile> WantedEntries(const std::vector<TStoredVerb>& verbs, const TFileManagerFolders& folders)
{
    std::vector<TEntryFile> files;
    if (const std::string menu = ServiceMenu(verbs); !menu.empty())
        files.push_back({folders.DataHome + "/kio/servicemenus/" + kServiceMenuName, menu, 0755});
    for (const TStoredVerb& verb : verbs) {
        files.push_back({folders.DataHome + "/nemo/actions/" + VerbFileName(verb, ".nemo_action"), NemoAction(verb), 0644});
        files.push_back({folders.DataHome + "/file-manager/actions/" + VerbFileName(verb, ".desktop"),
                         FileManagerAction(verb), 0644});
        if (!folders.System)
            files.push_back({NautilusFolder(folders) + "/" + ScriptFileName(verb), NautilusScript(verb), 0755});
    }
    return files;
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// Every file of Palvex's that a file manager may read now.
std::vector<std::string> PalvexEntryFiles(const TFileManagerFolders& folders)
{
    std::vector<std::string> files;
    const auto add = [&](const std::string& path) {
        if (Exists(path))
            files.push_back(path);
    };
    add(folders.DataHome + "/kio/servicemenus/" + kServiceMenuName);
    for (const TShellVerb& row : ShellVerbs()) {
        const TStoredVerb verb{row.Key, {}, {}, {}, {}, false};
        add(folders.DataHome + "/nemo/actions/" + VerbFileName(verb, ".nemo_action"));
        add(folders.DataHome + "/file-manager/actions/" + VerbFileName(verb, ".desktop"));
    }
    if (folders.System)
        return files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(NautilusFolder(folders), error)) {
        if (!entry.is_regular_file(error))
            continue;
        const std::optional<std::string> text = ReadText(entry.path().string());
        if (text && text->starts_with("#!/bin/sh\n" + std::string(kEntryMark) + "\n"))
            files.push_back(entry.path().string());
    }
    return files;
}

class TSync {
public:
    TSync(const TFileManagerFolders& folders, std::string recordFile)
        : m_folders(folders), m_recordFile(std::move(recordFile))
    {
        if (const std::optional<std::string> text = ReadText(m_recordFile)) {
            std::istringstream lines(*text);
            for (std::string line; std::getline(lines, line);)
                if (!line.empty() && line.front() != '#')
                    m_made.push_back(line);
        }
    }

    void Run(const std::vector<TStoredVerb>& verbs)
    {
        const std::vector<TEntryFile> wanted = WantedEntries(verbs, m_folders);
        for (const std::string& path : PalvexEntryFiles(m_folders)) {
            if (std::any_of(wanted.begin(), wanted.end(), [&](const TEntryFile& file) { return file.Path == path; }))
                continue;
            std::error_code error;
            if (!fs::remove(path, error) && error)
                m_problems.push_back(Format("Cannot delete file \"%s\". %s", path.c_str(), error.message().c_str()));
        }
        for (const TEntryFile& file : wanted)
            Write(file);
        MergeThunarActions(verbs);
        RemoveWhatIsNoLongerNeeded();
        SaveRecord();
        // One flush for every entry, the record and the store's new entry rather than two for each.
        FlushFileSystems({m_folders.DataHome, m_folders.ConfigHome, fs::path(m_recordFile).parent_path().string()});
        if (!m_problems.empty()) {
            std::string message;
            for (const std::string& problem : m_problems)
                message += (message.empty() ? "" : "\n") + problem;
            throw EFCreateError(message);
        }
    }

private:
    // Makes the folder and those above it, remembering the ones it made.
    bool MakeFolders(const std::string& folder)
    {
        std::string path;
        std::error_code error;
        for (const fs::path& part : fs::path(folder)) {
            path = (fs::path(path) / part).string();
            if (part == "/" || fs::is_directory(path, error))
                continue;
            if (!fs::create_directory(path, error)) {
                m_problems.push_back(Format(kSFCreateError, folder.c_str(), error.message().c_str()));
                return false;
            }
            m_made.push_back(path);
        }
        return true;
    }

    // Palvex's own files wait for the one flush at the end; the person's own file
    // is flushed before it takes its place.
    void Replace(const std::string& path, const std::string& content, unsigned mode, TFlush flush = TFlush::Nothing)
    {
        if (!MakeFolders(fs::path(path).parent_path().string()))
            return;
        if (const int error = ReplaceFileContents(path, content, mode, flush)) {
            m_problems.push_back(Format(kSFCreateError, path.c_str(), SystemErrorText(error).c_str()));
            return;
        }
        RemoveLeftoverTemporaries(path);
    }

    void Write(const TEntryFile& file)
    {
        std::error_code error;
        const fs::perms mode = static_cast<fs::perms>(file.Mode);
        const bool same = ReadText(file.Path) == file.Content &&
                          (fs::status(file.Path, error).permissions() & fs::perms::mask) == mode;
        if (same)
            return;
        Replace(file.Path, file.Content, file.Mode);
        fs::permissions(file.Path, mode, fs::perm_options::replace, error);
    }

    void MergeThunarActions(const std::vector<TStoredVerb>& verbs)
    {
        const std::string path = m_folders.ConfigHome + "/Thunar/uca.xml";
        const std::string actions = ThunarActions(verbs);
        const std::optional<std::string> current = ReadText(path);
        if (!current && actions.empty())
            return;
        std::string next = current ? WithoutPalvexActions(*current) : std::string(kEmptyThunarActions);
        if (!actions.empty()) {
            const std::optional<std::string> added = WithActionsAdded(next, actions);
            if (!added) {
                m_problems.push_back(Format("Thunar's actions file \"%s\" has no </actions>; Palvex's actions were "
                                            "not added to it",
                                            path.c_str()));
                return;
            }
            next = *added;
        }
        if (current == next)
            return;
        const bool ours = std::find(m_made.begin(), m_made.end(), path) != m_made.end();
        if (ours && next == kEmptyThunarActions) {
            std::error_code error;
            fs::remove(path, error);
            return;
        }
        if (!current && !Exists(path))
            m_made.push_back(path);
        Replace(path, next, 0644, TFlush::Contents);
    }

    // What Palvex made and holds nothing of anyone's any more, deepest first.
    void RemoveWhatIsNoLongerNeeded()
    {
        std::sort(m_made.begin(), m_made.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() > b.size() : a < b;
        });
        m_made.erase(std::unique(m_made.begin(), m_made.end()), m_made.end());
        std::vector<std::string> kept;
        for (const std::string& path : m_made) {
            std::error_code error;
            const fs::file_status status = fs::symlink_status(path, error);
            if (!fs::exists(status))
                continue;
            if (fs::is_directory(status)) {
                if (fs::is_empty(path, error) && fs::remove(path, error))
                    continue;
            } else if (ReadText(path) == std::string(kEmptyThunarActions) && fs::remove(path, error)) {
                continue;
            }
            kept.push_back(path);
        }
        m_made = std::move(kept);
    }

    void SaveRecord()
    {
        std::error_code error;
        if (m_made.empty()) {
            fs::remove(m_recordFile, error);
            return;
        }
        std::string text = kRecordHeader;
        for (const std::string& path : m_made)
            text += path + "\n";
        if (ReadText(m_recordFile) == text)
            return;
        if (const int failure = ReplaceFileContents(m_recordFile, text, 0644, TFlush::Nothing))
            m_problems.push_back(Format(kSFCreateError, m_recordFile.c_str(), SystemErrorText(failure).c_str()));
    }

    const TFileManagerFolders& m_folders;
    std::string m_recordFile;
    std::vector<std::string> m_made;
    std::vector<std::string> m_problems;
};

// Program and options of a command line "\"program\" \"%1\" options".
bool SplitVerbCommand(const std::string& command, TStoredVerb& verb)
{
    constexpr std::string_view kPathArgument = "\" \"%1\"";
    if (command.empty() || command.front() != '"')
        return false;
    const size_t close = command.find(kPathArgument, 1);
    if (close == std::string::npos)
        return false;
    verb.Program = command.substr(1, close - 1);
    verb.Options.clear();
    std::istringstream words(command.substr(close + kPathArgument.size()));
    for (std::string word; words >> word;)
        if (UpperCase(word).find("/FOLDER") == std::string::npos)
            verb.Options.push_back(word);
    return !verb.Program.empty();
}

} // namespace

TFileManagerFolders UserFileManagerFolders()
{
    TFileManagerFolders folders;
    folders.DataHome = EnvFolder("XDG_DATA_HOME");
    if (folders.DataHome.empty())
        folders.DataHome = HomeFolder() + "/.local/share";
    folders.ConfigHome = EnvFolder("XDG_CONFIG_HOME");
    if (folders.ConfigHome.empty())
        folders.ConfigHome = HomeFolder() + "/.config";
    return folders;
}

TFileManagerFolders SystemFileManagerFolders() { return {"/usr/share", "/etc/xdg", true}; }

std::vector<std::string> XdgDataFolders()
{
    std::vector<std::string> folders{UserFileManagerFolders().DataHome};
    const std::string dirs = EnvironmentValue("XDG_DATA_DIRS");
    std::istringstream list(!dirs.empty() ? dirs : "/usr/local/share:/usr/share");
    for (std::string folder; std::getline(list, folder, ':');)
        if (!folder.empty() && folder.front() == '/')
            folders.push_back(folder);
    return folders;
}

std::vector<TStoredVerb> ReadStoredVerbs(const TIntegrationChoice& choice)
{
    // One look at the store for the several hundred reads below.
    TRegistryBatch batch(TRegistryRoot::ClassesRoot);
    TRegistry reg(TRegistryRoot::ClassesRoot);
    std::vector<std::string> typeKeys;
    for (size_t i = 0; i < ShellFileTypes().size(); ++i) {
        const TShellFileType& type = ShellFileTypes()[i];
        std::string fileType = choice.FileTypes[i] ? kFolderFileType : "";
        if (type.Extension[0] && choice.FileTypes[i]) {
            fileType.clear();
            if (reg.OpenKeyReadOnly("\\" + std::string(type.Extension)))
                fileType = reg.ReadString("");
        }
        typeKeys.push_back(fileType);
    }
    std::vector<TStoredVerb> verbs;
    for (size_t v = 0; v < ShellVerbs().size(); ++v) {
        const TShellVerb& row = ShellVerbs()[v];
        if (!choice.Verbs[v])
            continue;
        TStoredVerb verb{row.Key, {}, {}, {}, {}, false};
        bool found = false;
        for (size_t i = 0; i < typeKeys.size(); ++i) {
            const std::string verbKey = "\\" + typeKeys[i] + "\\Shell\\" + row.Key;
            if (typeKeys[i].empty() || !reg.OpenKeyReadOnly(verbKey))
                continue;
            const std::string caption = reg.ReadString("");
            TStoredVerb stored = verb;
            if (!reg.OpenKeyReadOnly(verbKey + "\\Command") || !SplitVerbCommand(reg.ReadString(""), stored))
                continue;
            if (!found) {
                verb = stored;
                verb.Label = caption.starts_with(kVerbCaptionPrefix) ? caption.substr(std::string(kVerbCaptionPrefix).size())
                                                                    : caption;
                found = true;
            }
            const std::string extension = ShellFileTypes()[i].Extension;
            if (extension.empty())
                verb.Folders = true;
            else
                verb.Extensions.push_back(extension.substr(1));
        }
        if (found)
            verbs.push_back(std::move(verb));
    }
    return verbs;
}

void SyncFileManagerEntries(const std::vector<TStoredVerb>& verbs, const TFileManagerFolders& folders,
                            const std::string& recordFile)
{
    TSync(folders, recordFile).Run(verbs);
}

} // namespace palvex
