// The registry store: string values in a tree of keys under two roots. On Windows
// it is the system registry; elsewhere one text file per root in the per-user
// configuration folder, shared safely between running copies of the program.
#pragma once

#include "platform/ReplaceFile.h"

#include <string>
#include <string_view>
#include <vector>

namespace palvex {

enum class TRegistryRoot { ClassesRoot, LocalMachine };

// Key paths use "\" between names. A path that starts with "\" is taken from the
// root, any other from the open key. Names compare without regard to case; the
// value name "" is the key's default value.
class TRegistry {
public:
    explicit TRegistry(TRegistryRoot root = TRegistryRoot::LocalMachine);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    TRegistryRoot RootKey() const { return m_root; }
    void SetRootKey(TRegistryRoot root);

    // The open key's path from the root without a leading "\"; empty when none is open.
    std::string CurrentPath() const;
    bool HasCurrentKey() const { return m_open; }

    // Makes key the open key; false when it does not exist and may not be (or cannot be) created.
    bool OpenKey(std::string_view key, bool canCreate);
    bool OpenKeyReadOnly(std::string_view key);
    void CloseKey();

    // Creates key and the keys above it; an existing key is no error. Raises
    // "Failed to create key %s" when it cannot be created.
    bool CreateKey(std::string_view key);
    bool KeyExists(std::string_view key);
    // Deletes key with all its subkeys; false when there was nothing to delete or it failed.
    bool DeleteKey(std::string_view key);

    // Values of the open key. A missing key or value reads as the empty text.
    bool ValueExists(std::string_view name);
    std::string ReadString(std::string_view name);
    // Raises "Failed to set data for '%s'" when the value cannot be written.
    void WriteString(std::string_view name, std::string_view data);
    bool DeleteValue(std::string_view name);
    std::vector<std::string> GetKeyNames();
    std::vector<std::string> GetValueNames();

private:
    std::vector<std::string> Resolve(std::string_view key) const;
#ifdef _WIN32
    // rights: the system registry's access mask.
    bool OpenKeyWithRights(std::string_view key, bool canCreate, unsigned long rights);
#endif

    TRegistryRoot m_root;
    bool m_open = false;
    std::vector<std::string> m_current;
    void* m_handle = nullptr; // the open HKEY on Windows
};

// Every change to one root's store made while a batch lives goes to the file in
// one atomic replacement at Commit, and none of them without it: an integration of
// hundreds of keys costs one write, and a crash leaves the old store or the new
// one. The batch holds the store's lock from start to end, so other copies of the
// program wait. A batch begun inside another of the same root joins it. When the
// store cannot be locked, the batch does nothing and each change is written (and
// fails) on its own. On Windows the system registry needs none of this.
class TRegistryBatch {
public:
    explicit TRegistryBatch(TRegistryRoot root);
    ~TRegistryBatch();
    TRegistryBatch(const TRegistryBatch&) = delete;
    TRegistryBatch& operator=(const TRegistryBatch&) = delete;

    // Writes the changes; raises the error that the first of them would have
    // raised on its own ("Failed to create key %s", ...) when the file cannot be
    // written. The lock is kept until the batch ends. A caller that flushes the
    // file system itself afterwards may leave the folder's entry to that.
    void Commit(TFlush flush = TFlush::Everything);

private:
    TRegistryRoot m_root;
    void* m_state = nullptr;
};

// A damaged store file is moved aside under a name that says so and the store
// starts empty, as on a first start. The message for the person, once: empty
// when there is nothing to tell, else one line per file kept aside.
std::string TakeRegistryDamageReport();

// The person's home folder: $HOME, else the account's line in /etc/passwd, else ".".
std::string HomeFolder();

// The folder that holds the store files where there is no system registry:
// the override when one is set, else $XDG_CONFIG_HOME/Korvane, else ~/.config/Korvane.
std::string RegistryStoreFolder();
// Points the store at another folder (tests, portable use); an empty text restores the default.
void SetRegistryStoreFolder(std::string folder);
// The store file of one root inside RegistryStoreFolder().
std::string RegistryStoreFile(TRegistryRoot root);

// Splits a key path at "\" and drops empty names.
std::vector<std::string> SplitKeyPath(std::string_view key);

} // namespace palvex
