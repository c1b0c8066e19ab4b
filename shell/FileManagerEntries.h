// What the Linux file managers read, made from the verbs in the classes-root
// store: a Dolphin service menu, Nemo actions, Thunar actions in uca.xml,
// FileManager-Actions (Caja, PCManFM and others) and Nautilus scripts. Nothing
// on Linux reads the store itself.
#pragma once

#include "platform/MakerName.h"
#include "shell/ShellVerbs.h"

#include <string>
#include <vector>

namespace palvex {

// The name of the program's icon in the icon theme: the installed one.
inline constexpr const char* kProgramIconName = kApplicationId;
// The first lines of every file Palvex writes for a file manager say whose it is.
inline constexpr const char* kEntryMark = "# Palvex context-menu entry; removing the integration deletes this file.";

struct TFileManagerFolders {
    std::string DataHome;   // kio/, nemo/, file-manager/, nautilus/ below it
    std::string ConfigHome; // Thunar/ below it
    bool System = false;    // Nautilus reads scripts only from the person's folder
};

// $XDG_DATA_HOME and $XDG_CONFIG_HOME, else ~/.local/share and ~/.config.
TFileManagerFolders UserFileManagerFolders();
// /usr/share and /etc/xdg.
TFileManagerFolders SystemFileManagerFolders();
// $XDG_DATA_HOME then $XDG_DATA_DIRS (else /usr/local/share and /usr/share).
std::vector<std::string> XdgDataFolders();

// One verb as the store holds it, over every file type it is written under.
struct TStoredVerb {
    std::string Key;                     // KVPX01
    std::string Label;                   // its caption without "O»o "
    std::string Program;                 // from its command line
    std::vector<std::string> Options;    // from its command line, without /folder
    std::vector<std::string> Extensions; // lower case without the dot, in list order
    bool Folders = false;
};

// The chosen verbs as the store holds them under the file types that the chosen
// entries of the list have now, in table order. Only the chosen entries count:
// extensions share a file type ("Korvane.Palvex"), and a verb under it must not
// reach a file manager for an extension nobody chose.
std::vector<TStoredVerb> ReadStoredVerbs(const TIntegrationChoice& choice);

// Makes every file manager's entries those of verbs, and no others of Palvex's:
// with no verbs, everything Palvex wrote goes, with the folders it made (the
// record file lists them). Everything that can be written is; then the problems
// are raised together as one EFCreateError. Ends with one flush of the file
// systems of folders and of the record file's folder.
void SyncFileManagerEntries(const std::vector<TStoredVerb>& verbs, const TFileManagerFolders& folders,
                            const std::string& recordFile);

} // namespace palvex
