// The registry store where there is no system registry: one text file per root,
// re-read under a file lock before every change (or once per batch) and replaced
// atomically, so two running copies never lose each other's keys and a crash never
// leaves half a file.
#include "platform/Registry.h"

#include "platform/Errors.h"
#include "platform/MakerName.h"
#include "platform/RegistryText.h"
#include "platform/ReplaceFile.h"
#include "platform/SplitText.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace palvex {

namespace {

// Set at start-up or by tests, before any store access; the program has one thread.
std::string g_folderOverride;

} // namespace

std::vector<std::string> SplitKeyPath(std::string_view key)
{
    std::vector<std::string> names;
    for (std::string_view name : SplitText(key, '\\'))
        if (!name.empty())
            names.emplace_back(name);
    return names;
}

void SetRegistryStoreFolder(std::string folder)
{
    g_folderOverride = std::move(folder);
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && home[0])
        return home;
#ifndef _WIN32
    // Read directly: the password database's library calls do not work in palvex-cli's static link.
    std::ifstream passwd("/etc/passwd");
    const std::string uid = std::to_string(::getuid());
    for (std::string line; std::getline(passwd, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, ':');)
            fields.push_back(field);
        if (fields.size() >= 6 && fields[2] == uid && !fields[5].empty())
            return fields[5];
    }
#endif
    return ".";
}

std::string RegistryStoreFolder()
{
    if (!g_folderOverride.empty())
        return g_folderOverride;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // Relative values are to be ignored, so a program started elsewhere finds the same store.
    const std::string base = xdg && xdg[0] == '/' ? std::string(xdg) : HomeFolder() + "/.config";
    return base + "/" + kMakerName;
}

std::string RegistryStoreFile(TRegistryRoot root)
{
    return RegistryStoreFolder() +
           (root == TRegistryRoot::ClassesRoot ? "/HKEY_CLASSES_ROOT.txt" : "/HKEY_LOCAL_MACHINE.txt");
}

TRegistry::TRegistry(TRegistryRoot root) : m_root(root) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(TRegistryRoot root)
{
    CloseKey();
    m_root = root;
}

std::vector<std::string> TRegistry::Resolve(std::string_view key) const
{
    std::vector<std::string> names;
    if (m_open && (key.empty() || key.front() != '\\'))
        names = m_current;
    for (std::string& name : SplitKeyPath(key))
        names.push_back(std::move(name));
    return names;
}

std::string TRegistry::CurrentPath() const
{
    std::string path;
    for (const std::string& name : m_current) {
        if (!path.empty())
            path += '\\';
        path += name;
    }
    return path;
}

#ifndef _WIN32

namespace {

constexpr size_t kMaxStoreFile = 16 * 1024 * 1024;

const char* RootTitle(TRegistryRoot root)
{
    static constexpr auto kClassesRoot = JoinText(kMakerName, " settings store: HKEY_CLASSES_ROOT");
    static constexpr auto kLocalMachine = JoinText(kMakerName, " settings store: HKEY_LOCAL_MACHINE");
    return root == TRegistryRoot::ClassesRoot ? kClassesRoot.Text : kLocalMachine.Text;
}

// The store could not be written; the caller raises its own message.
struct StoreWriteFailed {};

struct BatchState {
    int lockFd = -1;
    TRegistryKey tree;
    bool changed = false;
    // What the first change would have raised had it been written on its own.
    std::string failure;
};

BatchState* g_batches[2] = {};

BatchState*& ActiveBatch(TRegistryRoot root) { return g_batches[root == TRegistryRoot::ClassesRoot ? 0 : 1]; }

std::vector<std::string> g_damageReports;
// Damaged files that could not be moved aside, told about once per run.
std::vector<std::string> g_damageTold;

void FsyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The file's bytes; nothing when it does not exist.
std::optional<std::string> ReadStoreText(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        throw ERegistryException(Format("Cannot read the settings file \"%s\". %s", path.c_str(),
                                        SystemErrorText(errno).c_str()));
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw ERegistryException(Format("Cannot read the settings file \"%s\". %s", path.c_str(),
                                            SystemErrorText(error).c_str()));
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxStoreFile)
            break;
    }
    ::close(fd);
    return text;
}

// 0 when text is a store, else the number of the first line that is not.
int ParseStoreText(const std::string& text, TRegistryKey& tree)
{
    return text.size() > kMaxStoreFile ? 1 : ParseRegistry(text, tree);
}

// With the lock held: renames the damaged file (the link's target, so that a
// link into a dotfiles folder stays) to a free name that says what it is.
bool KeepDamagedAside(TRegistryRoot root, int badLine)
{
    const std::string path = RegistryStoreFile(root);
    const std::string target = FollowFileLinks(path);
    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    if (::localtime_r(&now, &local))
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string aside = target + ".damaged-" + stamp;
    struct stat st {};
    for (int k = 2; ::lstat(aside.c_str(), &st) == 0; ++k)
        aside = target + ".damaged-" + stamp + "-" + std::to_string(k);
    if (::rename(target.c_str(), aside.c_str()) != 0)
        return false;
    FsyncFolder(aside.substr(0, aside.find_last_of('/')));
    g_damageReports.push_back(Format("The settings file \"%s\" was damaged at line %d. It was kept as \"%s\" "
                                     "and the settings start anew",
                                     path.c_str(), badLine, aside.c_str()));
    return true;
}

// Reads the store with its lock held; a damaged file is moved aside and the
// store starts empty. StoreWriteFailed when it cannot be moved: nothing may
// then be written over it.
TRegistryKey LoadStoreLocked(TRegistryRoot root)
{
    TRegistryKey tree;
    const std::optional<std::string> text = ReadStoreText(RegistryStoreFile(root));
    if (!text)
        return tree;
    const int badLine = ParseStoreText(*text, tree);
    if (badLine == 0)
        return tree;
    if (!KeepDamagedAside(root, badLine))
        throw StoreWriteFailed{};
    return TRegistryKey{};
}

bool MakeFolders(const std::string& folder)
{
    for (size_t i = 1; i <= folder.size(); ++i) {
        if (i != folder.size() && folder[i] != '/')
            continue;
        const std::string part = folder.substr(0, i);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Takes the root's lock and clears what a killed writer left; -1 when it cannot.
int LockStore(TRegistryRoot root)
{
    if (!MakeFolders(RegistryStoreFolder()))
        return -1;
    const std::string path = RegistryStoreFile(root);
    const int lockFd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0)
        return -1;
    while (::flock(lockFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(lockFd);
            return -1;
        }
    }
    RemoveLeftoverTemporaries(path);
    return lockFd;
}

// Reads the root's file; a missing file is an empty store.
TRegistryKey LoadStore(TRegistryRoot root)
{
    const std::string path = RegistryStoreFile(root);
    TRegistryKey tree;
    const std::optional<std::string> text = ReadStoreText(path);
    if (!text)
        return tree;
    const int badLine = ParseStoreText(*text, tree);
    if (badLine == 0)
        return tree;
    // Looked at again under the lock: another copy may have mended it meanwhile.
    const int lockFd = LockStore(root);
    if (lockFd >= 0) {
        try {
            tree = LoadStoreLocked(root);
            ::close(lockFd);
            return tree;
        } catch (const StoreWriteFailed&) {
            ::close(lockFd);
        } catch (...) {
            ::close(lockFd);
            throw;
        }
    }
    if (std::find(g_damageTold.begin(), g_damageTold.end(), path) == g_damageTold.end()) {
        g_damageTold.push_back(path);
        g_damageReports.push_back(Format("The settings file \"%s\" is damaged at line %d and could not be kept "
                                         "aside; the settings start anew for now",
                                         path.c_str(), badLine));
    }
    return TRegistryKey{};
}

// The tree to read: the open batch's, else the file's as it is now.
const TRegistryKey& ReadView(TRegistryRoot root, TRegistryKey& scratch)
{
    if (const BatchState* batch = ActiveBatch(root))
        return batch->tree;
    scratch = LoadStore(root);
    return scratch;
}

void SaveStore(TRegistryRoot root, const TRegistryKey& tree)
{
    if (ReplaceFileContents(RegistryStoreFile(root), SerializeRegistry(tree, RootTitle(root))) != 0)
        throw StoreWriteFailed{};
}

// Runs change on the open batch's tree, or on a fresh copy of the store while
// holding the store's lock, writing the result when change reports that it
// altered something. failure is what the caller raises if the write fails.
template <typename Change>
bool ModifyStore(TRegistryRoot root, const std::string& failure, Change change)
{
    if (BatchState* batch = ActiveBatch(root)) {
        const bool changed = change(batch->tree);
        if (changed && batch->failure.empty())
            batch->failure = failure;
        batch->changed = batch->changed || changed;
        return changed;
    }
    const int lockFd = LockStore(root);
    if (lockFd < 0)
        throw StoreWriteFailed{};
    try {
        TRegistryKey tree = LoadStoreLocked(root);
        const bool changed = change(tree);
        if (changed)
            SaveStore(root, tree);
        ::close(lockFd);
        return changed;
    } catch (...) {
        ::close(lockFd);
        throw;
    }
}

std::string CreateKeyFailure(std::string_view key) { return Format("Failed to create key %s", std::string(key).c_str()); }

std::string SetDataFailure(std::string_view name) { return Format("Failed to set data for '%s'", std::string(name).c_str()); }

// Adds the keys of path that the store lacks; StoreWriteFailed when it cannot be written.
void CreateStoredKeys(TRegistryRoot root, const std::vector<std::string>& path, std::string_view key)
{
    ModifyStore(root, CreateKeyFailure(key), [&](TRegistryKey& t) {
        bool created = false;
        CreateRegistryKey(t, path, created);
        return created;
    });
}

} // namespace

TRegistryBatch::TRegistryBatch(TRegistryRoot root) : m_root(root)
{
    if (ActiveBatch(root))
        return;
    const int lockFd = LockStore(root);
    if (lockFd < 0)
        return;
    auto state = std::make_unique<BatchState>();
    state->lockFd = lockFd;
    try {
        state->tree = LoadStoreLocked(root);
    } catch (const StoreWriteFailed&) {
        ::close(lockFd);
        return;
    } catch (...) {
        ::close(lockFd);
        throw;
    }
    ActiveBatch(root) = state.get();
    m_state = state.release();
}

TRegistryBatch::~TRegistryBatch()
{
    auto* state = static_cast<BatchState*>(m_state);
    if (!state)
        return;
    ActiveBatch(m_root) = nullptr;
    ::close(state->lockFd);
    delete state;
}

void TRegistryBatch::Commit(TFlush flush)
{
    auto* state = static_cast<BatchState*>(m_state);
    if (!state || !state->changed)
        return;
    const std::string path = RegistryStoreFile(m_root);
    const int error = ReplaceFileContents(path, SerializeRegistry(state->tree, RootTitle(m_root)), 0644, flush);
    if (error == 0) {
        state->changed = false;
        return;
    }
    const std::string message = !state->failure.empty()
                                    ? state->failure
                                    : Format(kSFWriteError, path.c_str(), SystemErrorText(error).c_str());
    // The changes are gone: later reads must see the file, not them.
    ActiveBatch(m_root) = nullptr;
    ::close(state->lockFd);
    delete state;
    m_state = nullptr;
    throw ERegistryException(message);
}

std::string TakeRegistryDamageReport()
{
    std::string report;
    for (const std::string& line : g_damageReports)
        report += (report.empty() ? "" : "\n") + line;
    g_damageReports.clear();
    return report;
}

void TRegistry::CloseKey()
{
    m_open = false;
    m_current.clear();
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate)
{
    std::vector<std::string> path = Resolve(key);
    TRegistryKey scratch;
    if (!FindRegistryKey(ReadView(m_root, scratch), path)) {
        if (!canCreate || !IsStorablePath(path))
            return false;
        try {
            CreateStoredKeys(m_root, path, key);
        } catch (const StoreWriteFailed&) {
            return false;
        }
    }
    m_current = std::move(path);
    m_open = true;
    return true;
}

bool TRegistry::OpenKeyReadOnly(std::string_view key) { return OpenKey(key, false); }

bool TRegistry::CreateKey(std::string_view key)
{
    const std::vector<std::string> path = Resolve(key);
    if (!IsStorablePath(path))
        throw ERegistryException(CreateKeyFailure(key));
    TRegistryKey scratch;
    if (FindRegistryKey(ReadView(m_root, scratch), path))
        return true;
    try {
        CreateStoredKeys(m_root, path, key);
    } catch (const StoreWriteFailed&) {
        throw ERegistryException(CreateKeyFailure(key));
    }
    return true;
}

bool TRegistry::KeyExists(std::string_view key)
{
    TRegistryKey scratch;
    return FindRegistryKey(ReadView(m_root, scratch), Resolve(key)) != nullptr;
}

bool TRegistry::DeleteKey(std::string_view key)
{
    const std::vector<std::string> path = Resolve(key);
    if (path.empty() || !KeyExists(key))
        return false;
    try {
        return ModifyStore(m_root, {}, [&](TRegistryKey& t) { return RemoveRegistryKey(t, path); });
    } catch (const StoreWriteFailed&) {
        return false;
    }
}

bool TRegistry::ValueExists(std::string_view name)
{
    if (!m_open)
        return false;
    TRegistryKey scratch;
    const TRegistryKey* key = FindRegistryKey(ReadView(m_root, scratch), m_current);
    return key && FindRegistryValue(*key, name);
}

std::string TRegistry::ReadString(std::string_view name)
{
    if (!m_open)
        return {};
    TRegistryKey scratch;
    const TRegistryKey* key = FindRegistryKey(ReadView(m_root, scratch), m_current);
    const TRegistryValue* value = key ? FindRegistryValue(*key, name) : nullptr;
    return value ? value->Data : std::string();
}

void TRegistry::WriteString(std::string_view name, std::string_view data)
{
    if (!m_open)
        throw ERegistryException(SetDataFailure(name));
    bool keyGone = false;
    try {
        ModifyStore(m_root, SetDataFailure(name), [&](TRegistryKey& t) {
            TRegistryKey* key = FindRegistryKey(t, m_current);
            if (!key) {
                keyGone = true;
                return false;
            }
            if (TRegistryValue* value = FindRegistryValue(*key, name)) {
                if (value->Data == data)
                    return false;
                value->Data = std::string(data);
            } else {
                key->Values.push_back(TRegistryValue{std::string(name), std::string(data)});
            }
            return true;
        });
    } catch (const StoreWriteFailed&) {
        throw ERegistryException(SetDataFailure(name));
    }
    // Another copy of the program deleted the open key meanwhile.
    if (keyGone)
        throw ERegistryException(SetDataFailure(name));
}

bool TRegistry::DeleteValue(std::string_view name)
{
    if (!m_open)
        return false;
    try {
        return ModifyStore(m_root, {}, [&](TRegistryKey& t) {
            TRegistryKey* key = FindRegistryKey(t, m_current);
            if (!key)
                return false;
            for (auto it = key->Values.begin(); it != key->Values.end(); ++it) {
                if (SameRegistryName(it->Name, name)) {
                    key->Values.erase(it);
                    return true;
                }
            }
            return false;
        });
    } catch (const StoreWriteFailed&) {
        return false;
    }
}

namespace {

// The names in one of a key's lists: its subkeys or its values.
template <typename Entry>
std::vector<std::string> NamesIn(TRegistryRoot root, const std::vector<std::string>& path,
                                 std::vector<Entry> TRegistryKey::*list)
{
    std::vector<std::string> names;
    TRegistryKey scratch;
    if (const TRegistryKey* key = FindRegistryKey(ReadView(root, scratch), path))
        for (const Entry& entry : key->*list)
            names.push_back(entry.Name);
    return names;
}

} // namespace

std::vector<std::string> TRegistry::GetKeyNames()
{
    return m_open ? NamesIn(m_root, m_current, &TRegistryKey::Subkeys) : std::vector<std::string>();
}

std::vector<std::string> TRegistry::GetValueNames()
{
    return m_open ? NamesIn(m_root, m_current, &TRegistryKey::Values) : std::vector<std::string>();
}

#endif // !_WIN32

} // namespace palvex
