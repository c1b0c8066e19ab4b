#include "shell/ShellIntegration.h"

#include "platform/Registry.h"

namespace palvex {

std::string FileManagerRecordFile() { return RegistryStoreFolder() + "/FileManagerEntries.txt"; }

void IntegrateShell(const TIntegrationChoice& choice, const std::string& programPath, const TFileManagerFolders& folders)
{
    // The store stays locked until the entries match it, so two integrations never mix.
    TRegistryBatch batch(TRegistryRoot::ClassesRoot);
    WriteShellVerbs(choice, programPath);
    // The store's folder is the record's: the entries' flush takes its new entry too.
    batch.Commit(TFlush::Contents);
    SyncFileManagerEntries(ReadStoredVerbs(choice), folders, FileManagerRecordFile());
}

void RemoveShellIntegration(const TFileManagerFolders& folders)
{
    TRegistryBatch batch(TRegistryRoot::ClassesRoot);
    RemoveShellVerbs();
    batch.Commit(TFlush::Contents);
    SyncFileManagerEntries({}, folders, FileManagerRecordFile());
}

} // namespace palvex
