// Integrate and Remove integration as wholes: the verbs in the classes-root
// store, written in one store batch, then the file managers' entries made from
// the verbs just stored. The integration dialog and palvex-cli both call these.
#pragma once

#include "shell/FileManagerEntries.h"
#include "shell/ShellVerbs.h"

#include <string>

namespace palvex {

// Removes every verb, writes those of choice with programPath in their command
// lines, and makes the entries of every file manager below folders match them.
// A failure of the store leaves it as it was.
void IntegrateShell(const TIntegrationChoice& choice, const std::string& programPath, const TFileManagerFolders& folders);

// Removes every verb of every file type and everything Palvex wrote for the file managers.
void RemoveShellIntegration(const TFileManagerFolders& folders);

// Where the folders and files made for the file managers are listed, beside the store.
std::string FileManagerRecordFile();

} // namespace palvex
