// The context-menu verbs in the classes-root store: the file-type list, the verb
// table, writing and removing one verb, and the store side of an integration.
// No Qt: the integration dialog and palvex-cli both drive it.
#pragma once

#include <array>
#include <span>
#include <string>

namespace palvex {

inline constexpr int kShellFileTypeCount = 41;
inline constexpr int kShellVerbCount = 15;

// Given to an extension that has no file type yet.
inline constexpr const char* kPalvexFileType = "Korvane.Palvex";
// The file type of folders.
inline constexpr const char* kFolderFileType = "Directory";
// "O", the right-pointing double angle quotation mark, "o", a blank.
inline constexpr const char* kVerbCaptionPrefix = "O\xC2\xBBo ";

struct TShellFileType {
    const char* Extension; // lower case with its dot; empty for folders
    int CheckBox;          // the dialog's CheckBoxN
};

struct TShellVerb {
    const char* Key;     // KVPX01 ... KVPX14, KVPX99
    int CheckBox;        // the dialog's CheckBoxN
    int TextNumber;      // the caption's text
    const char* Options; // appended to the command line
};

// In list order: entry 0 folders, then the 40 extensions.
std::span<const TShellFileType> ShellFileTypes();
// In the order the verbs are written.
std::span<const TShellVerb> ShellVerbs();

// Which file types (list order) and verbs (table order) are ticked.
struct TIntegrationChoice {
    std::array<bool, kShellFileTypeCount> FileTypes{};
    std::array<bool, kShellVerbCount> Verbs{};
};

// .JPG, .JPEG, .TIF, .TIFF, .JPE, .JFIF, .BMP and folders; 800x600 at 80 %, photo 10x15 cm, convert.
TIntegrationChoice DefaultIntegrationChoice();
TIntegrationChoice FullIntegrationChoice();

// "O»o " + the text of the number in the current language.
std::string VerbCaption(const TShellVerb& verb);
// "\"" + program + "\" \"%1\" " + options, and " /folder" for folders.
std::string VerbCommandLine(const std::string& programPath, const TShellVerb& verb, bool folder);

// Writes one verb under the extension's file type ("Directory" for an empty
// extension), giving the extension defaultTypeName when it has none. Raises
// "Failed to create key %s" or "Failed to set data for '%s'".
void RegisterShellVerb(const std::string& caption, const std::string& defaultTypeName, const std::string& verbKey,
                       const std::string& extension, const std::string& commandLine);
// Deletes the verb's key with its Command key; nothing else. A missing verb is no error.
void UnregisterShellVerb(const std::string& extension, const std::string& verbKey);

// Every verb of every file type removed, then one per ticked type and ticked
// verb in list and table order. Part of a caller's store batch.
void WriteShellVerbs(const TIntegrationChoice& choice, const std::string& programPath);
// All 41 x 15 verbs removed, whatever the choice was.
void RemoveShellVerbs();

} // namespace palvex
